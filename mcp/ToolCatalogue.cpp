#include "mcp/McpServer.h"

#include <QJsonArray>
#include <QStringList>

namespace vn {

namespace {

QJsonObject typed(const char* type)
{
    return {{QStringLiteral("type"), QString::fromLatin1(type)}};
}

QJsonObject typed(const char* type, const QJsonValue& fallback)
{
    return {{QStringLiteral("type"), QString::fromLatin1(type)}, {QStringLiteral("default"), fallback}};
}

QJsonObject hexChunks(int maxItems)
{
    return {{QStringLiteral("type"), QStringLiteral("array")},
            {QStringLiteral("items"), typed("string")},
            {QStringLiteral("maxItems"), maxItems}};
}

enum class Hints { ReadOnly, Acting, GuiOnly };

QJsonObject tool(const char* name, const char* description, const QJsonObject& properties,
                 const QStringList& required, Hints hints)
{
    const bool readOnly = hints == Hints::ReadOnly;
    const bool worldly = hints == Hints::Acting;
    return {
        {QStringLiteral("name"), QString::fromLatin1(name)},
        {QStringLiteral("description"), QString::fromLatin1(description)},
        {QStringLiteral("inputSchema"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("object")},
                     {QStringLiteral("properties"), properties},
                     {QStringLiteral("required"), QJsonArray::fromStringList(required)}}},
        {QStringLiteral("annotations"),
         QJsonObject{{QStringLiteral("readOnlyHint"), readOnly},
                     {QStringLiteral("destructiveHint"), worldly},
                     {QStringLiteral("openWorldHint"), worldly}}},
    };
}

} // namespace

QJsonArray McpServer::tools() const
{
    const QJsonObject channel = typed("string");
    const QJsonObject exactChannel{
        {QStringLiteral("type"), QStringLiteral("string")},
        {QStringLiteral("minLength"), 1},
        {QStringLiteral("description"),
         QStringLiteral("Exact connection id from list_connections/get_status; not a port name or wildcard.")}};
    const QJsonObject filter{
        {QStringLiteral("type"), QStringLiteral("object")},
        {QStringLiteral("additionalProperties"), false},
        {QStringLiteral("properties"),
         QJsonObject{{QStringLiteral("text"), typed("string")},
                     {QStringLiteral("case_sensitive"), typed("boolean")},
                     {QStringLiteral("whole_word"), typed("boolean")},
                     {QStringLiteral("regex"), typed("boolean")},
                     {QStringLiteral("logical"), typed("boolean")}}}};
    const QJsonObject topic{{QStringLiteral("type"), QStringLiteral("string")},
                            {QStringLiteral("enum"), QJsonArray{QStringLiteral("overview"), QStringLiteral("frame_script")}},
                            {QStringLiteral("default"), QStringLiteral("overview")}};

    return {
        tool("read_usage_guide",
             "Read the built-in Varnelle skill/usage guide. Call it when you first use this software. "
             "topic=frame_script explains the script entry point, built-in functions, framing, limits, an example "
             "and how to read results. The full Markdown is returned even when the server-local skill_path is not "
             "accessible to you. It installs nothing and changes no script or configuration.",
             {{QStringLiteral("topic"), topic}}, {}, Hints::ReadOnly),
        tool("get_status",
             "Get shared journal session, exposed connections, actual baud rates and permissions. See usage_guide "
             "for the built-in guide tool. protocol_access reports the GUI protocol switches; TCP covers both "
             "client and server. Disabled protocols cannot be read or controlled.",
             {}, {}, Hints::ReadOnly),
        tool("list_serial_ports", "List serial ports without opening hardware.", {}, {}, Hints::ReadOnly),
        tool("list_connections",
             "List exposed connections, including disconnected retained sessions, with ids, protocol, state and "
             "actual serial settings. Match the requested port/host before choosing channel_id; never assume the "
             "first connection is the current device.",
             {}, {}, Hints::ReadOnly),
        tool("read_events",
             "Read journal events of exactly one connection without consuming anything. channel_id is required and "
             "must come from list_connections/get_status after checking protocol, port/host and state; a missing or "
             "invalid id never falls back to global history or another connection. after=0 includes the "
             "connection's retained history; use get_status.latest_cursor as after to get only new arrivals. Retain "
             "next_cursor per connection and reader. \"hex\" holds the exact bytes. The response names its scope, "
             "channel_id, protocol and connection_state.",
             {{QStringLiteral("channel_id"), exactChannel},
              {QStringLiteral("after"), typed("integer", 0)},
              {QStringLiteral("limit"), typed("integer", 200)},
              {QStringLiteral("wait_ms"), typed("integer", 0)}},
             {QStringLiteral("channel_id")}, Hints::ReadOnly),
        tool("read_all_events",
             "Explicit global history read across all exposed connections, including disconnected or removed "
             "sessions and historical SSH traffic; use it only for an aggregate log. Read a specific device with "
             "read_events. Retain an independent next_cursor for this stream. The protocol switches still apply.",
             {{QStringLiteral("after"), typed("integer", 0)},
              {QStringLiteral("limit"), typed("integer", 200)},
              {QStringLiteral("wait_ms"), typed("integer", 0)}},
             {}, Hints::ReadOnly),
        tool("read_waveform",
             "Read wave/1 samples per peer: only complete @wave name=value,... lines are accepted. Names identify "
             "channels; integer, decimal and scientific values can be mixed. Plain CSV/JSON/logs are ignored. "
             "Custom script results use read_script_results.",
             {{QStringLiteral("channel_id"), channel}, {QStringLiteral("limit"), typed("integer", 1000)}},
             {QStringLiteral("channel_id")}, Hints::ReadOnly),
        tool("read_structured",
             "Read incremental JSON/XML extraction enabled in the GUI. Custom script results use "
             "read_script_results.",
             {{QStringLiteral("channel_id"), channel},
              {QStringLiteral("after"), typed("integer", 0)},
              {QStringLiteral("limit"), typed("integer", 100)},
              {QStringLiteral("cursors"), typed("object")}},
             {QStringLiteral("channel_id")}, Hints::ReadOnly),
        tool("read_script_results",
             "Read custom serial frame script results shown in the receive page. Records contain numeric value "
             "fields and event_seq linking the original bytes. Retain each source next_cursor independently of "
             "JSON/XML cursors. Read access needs no control permission.",
             {{QStringLiteral("channel_id"), channel},
              {QStringLiteral("after"), typed("integer", 0)},
              {QStringLiteral("limit"), typed("integer", 100)},
              {QStringLiteral("cursors"), typed("object")}},
             {QStringLiteral("channel_id")}, Hints::ReadOnly),
        tool("send_data", "Send bytes. Requires GUI permission. newline none/lf/cr/crlf, peer IP:port.",
             {{QStringLiteral("channel_id"), channel},
              {QStringLiteral("payload"), typed("string")},
              {QStringLiteral("hex_mode"), typed("boolean", false)},
              {QStringLiteral("encoding"), typed("string", QStringLiteral("utf-8"))},
              {QStringLiteral("newline"), typed("string", QStringLiteral("none"))},
              {QStringLiteral("peer"), typed("string", QString())}},
             {QStringLiteral("channel_id"), QStringLiteral("payload")}, Hints::Acting),
        tool("open_connection",
             "Open serial, tcp-client, tcp-server, udp or ssh. For SSH the config fields are kind=ssh, ssh_host (an "
             "alias from the user's SSH configuration or an address) and optional ssh_user, ssh_port, ssh_identity; "
             "the system OpenSSH client is used with its configured key or agent. Requires GUI permission. The "
             "matching receive page opens and activates in the GUI.",
             {{QStringLiteral("config"), typed("object")}}, {QStringLiteral("config")}, Hints::Acting),
        tool("close_connection", "Disconnect and retain history. Requires GUI permission.",
             {{QStringLiteral("channel_id"), channel}}, {QStringLiteral("channel_id")}, Hints::Acting),
        tool("list_search_views",
             "List GUI receive/JSON/XML search views for exactly one channel. Returns ephemeral view_id values, "
             "saved search flags and display mode. Select an exact view before search_logs; no shell/grep needed.",
             {{QStringLiteral("channel_id"), channel}}, {QStringLiteral("channel_id")}, Hints::ReadOnly),
        tool("search_logs",
             "Search the GUI's retained display with its native filter. view_id comes from list_search_views. The "
             "optional filter updates the real GUI search box and its case_sensitive, whole_word, regex and logical "
             "switches. Returns displayed lines or records, not raw journal events; paused and cleared views keep "
             "their GUI scope. Consumes no journal cursor and sends nothing. Offsets refer to the live display; "
             "restart from offset 0 when the snapshot changes.",
             {{QStringLiteral("channel_id"), channel},
              {QStringLiteral("view_id"), typed("string")},
              {QStringLiteral("filter"), filter},
              {QStringLiteral("offset"), typed("integer", 0)},
              {QStringLiteral("limit"), typed("integer", 200)},
              {QStringLiteral("snapshot"), typed("string")}},
             {QStringLiteral("channel_id"), QStringLiteral("view_id")}, Hints::GuiOnly),
        tool("get_frame_script",
             "Read the current serial parser code, saved GUI HEX sample_chunks, enabled state, error and revision. "
             "Use the returned revision for set_frame_script to avoid overwriting concurrent GUI changes.",
             {{QStringLiteral("channel_id"), channel}}, {QStringLiteral("channel_id")}, Hints::ReadOnly),
        tool("validate_frame_script",
             "Compile a C-style frame parser and optionally test HEX sample_chunks offline, keeping partial-frame "
             "state between chunks. Sends nothing and leaves the live parser alone. Read "
             "read_usage_guide(topic=frame_script) first. Returns valid, error/line or the decoded frames. Maximum "
             "64 KiB source/input, 128 chunks and 1024 output frames.",
             {{QStringLiteral("code"), typed("string")}, {QStringLiteral("sample_chunks"), hexChunks(128)}},
             {QStringLiteral("code")}, Hints::ReadOnly),
        tool("set_frame_script",
             "Save the serial parser code and explicitly enable or disable it, synchronising the GUI. Needs protocol "
             "access, the GUI's AI-control permission, the current expected_revision, and no active file transfer "
             "or unsaved GUI editor changes. Validate code and chunks first. sample_chunks (up to 64 HEX chunks, 64 "
             "KiB in total) replace and persist the GUI's trial inputs with the code; leaving it out keeps them and "
             "[] clears them. Applies only to newly received bytes and sends nothing.",
             {{QStringLiteral("channel_id"), channel},
              {QStringLiteral("code"), typed("string")},
              {QStringLiteral("enabled"), typed("boolean")},
              {QStringLiteral("sample_chunks"), hexChunks(64)},
              {QStringLiteral("expected_revision"), typed("string")}},
             {QStringLiteral("channel_id"), QStringLiteral("code"), QStringLiteral("enabled"),
              QStringLiteral("expected_revision")},
             Hints::Acting),
    };
}

} // namespace vn
