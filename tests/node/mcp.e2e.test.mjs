// End to end: the official MCP TypeScript SDK client against mcp-test-host.
// Run by CTest (mcp_sdk_e2e) with MCP_TEST_HOST naming the host executable.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import net from 'node:net';
import { createInterface } from 'node:readline';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StreamableHTTPClientTransport } from '@modelcontextprotocol/sdk/client/streamableHttp.js';

const AI_OFF = 'AI 控制未开启，请在桌面设置 → AI / MCP 中允许发送报文和控制连接';
const CLOSED = '该协议的 MCP 访问已关闭，请在设置 → AI / MCP 中开启';
const REVISION = '脚本已变化或未提供 expected_revision；先 get_frame_script，再基于最新 revision 修改';
const EXAMPLE = `void main(const uint8_t data[], int length)
{
    buffer_append(data, length);
    while (buffer_size() >= 8)
    {
        if (buffer[0] != 0xAA || buffer[1] != 0x55 || buffer[7] != 0x0D || sum8(buffer, 0, 6) != buffer[6])
        {
            buffer_drop(1);
            continue;
        }
        emit("温度", read_i16_le(buffer, 2) / 100.0);
        emit("电压", read_u16_le(buffer, 4) / 1000.0);
        buffer_drop(8);
    }
}
`;

const hostPath = process.env.MCP_TEST_HOST;

// The host process, its URL and a line-by-line command channel on its stdin.
class Host {
  async start(args) {
    assert.ok(hostPath, 'MCP_TEST_HOST must name the mcp-test-host executable');
    this.process = spawn(hostPath, args, { stdio: ['pipe', 'pipe', 'inherit'] });
    this.exited = new Promise(resolve => this.process.on('exit', (code, signal) => resolve({ code, signal })));
    this.lines = [];
    this.waiters = [];
    createInterface({ input: this.process.stdout }).on('line', line => {
      const waiter = this.waiters.shift();
      if (waiter) waiter(line);
      else this.lines.push(line);
    });
    this.url = await this.nextLine();
    assert.match(this.url, /^http:\/\/127\.0\.0\.1:\d+\/mcp$/);
  }

  nextLine() {
    if (this.lines.length) return Promise.resolve(this.lines.shift());
    return new Promise(resolve => this.waiters.push(resolve));
  }

  async command(line) {
    this.process.stdin.write(line + '\n');
    return this.nextLine();
  }

  async stop() {
    this.process.stdin.end();
    return this.exited;
  }
}

async function connect(url, name = 'sdk-e2e') {
  const client = new Client({ name, version: '1.0.0' });
  const transport = new StreamableHTTPClientTransport(new URL(url));
  await client.connect(transport);
  return { client, transport };
}

// A tool call's structured result; fails the test when the tool failed.
async function ok(client, name, args = {}) {
  const result = await client.callTool({ name, arguments: args });
  assert.equal(result.isError, false, `${name} failed: ${result.content?.[0]?.text}`);
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, 'text');
  assert.deepEqual(JSON.parse(result.content[0].text), 'result' in result.structuredContent &&
    Object.keys(result.structuredContent).length === 1 ? result.structuredContent.result : result.structuredContent);
  return result.structuredContent;
}

// A tool call's failure message; fails the test when the tool succeeded.
async function refused(client, name, args = {}) {
  const result = await client.callTool({ name, arguments: args });
  assert.equal(result.isError, true, `${name} unexpectedly succeeded`);
  assert.equal(result.structuredContent, undefined);
  return result.content[0].text;
}

async function until(probe, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error('condition not reached in time');
    await new Promise(resolve => setTimeout(resolve, 20));
  }
}

describe('MCP server with the official SDK client', () => {
  const host = new Host();
  let client;
  let transport;

  before(async () => {
    await host.start(['--port', '0', '--demo']);
    ({ client, transport } = await connect(host.url));
  });

  after(async () => {
    await client?.close();
    const exit = await host.stop();
    assert.deepEqual(exit, { code: 0, signal: null }, 'mcp-test-host must exit cleanly when its input closes');
  });

  test('initializes, pings and lists the 17 tools', async () => {
    assert.deepEqual(client.getServerVersion(), { name: 'Varnelle Native', version: '0.15.32' });
    assert.match(client.getInstructions(), /^GUI and AI share independent cursors\./);
    assert.ok(transport.sessionId && /^[0-9a-f]{32}$/.test(transport.sessionId));
    assert.deepEqual(await client.ping(), {});
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map(tool => tool.name), [
      'read_usage_guide', 'get_status', 'list_serial_ports', 'list_connections', 'read_events',
      'read_all_events', 'read_waveform', 'read_structured', 'read_script_results', 'send_data',
      'open_connection', 'close_connection', 'list_search_views', 'search_logs', 'get_frame_script',
      'validate_frame_script', 'set_frame_script']);
    for (const tool of tools) assert.equal(tool.inputSchema.type, 'object');
  });

  test('reading tools', async () => {
    const overview = await ok(client, 'read_usage_guide');
    assert.equal(overview.topic, 'overview');
    assert.match(overview.guide, /^---\nname: varnelle\n/);
    const reference = await ok(client, 'read_usage_guide', { topic: 'frame_script' });
    assert.match(reference.guide, /^# C 风格串口帧解析脚本/);

    const status = await ok(client, 'get_status');
    assert.equal(status.version, '0.15.32');
    assert.equal(status.mcp_url, host.url);
    assert.equal(status.allow_ai_control, false);
    assert.equal(status.connection_count, 2);
    assert.ok(Array.isArray(await ok(client, 'list_serial_ports').then(r => r.result)));
    const connections = (await ok(client, 'list_connections')).result;
    const wave = connections.find(c => c.config.host === 'waveform-demo');
    const structured = connections.find(c => c.config.host === 'structured-demo');
    assert.ok(wave && structured);

    const events = await ok(client, 'read_events', { channel_id: wave.id, limit: 5 });
    assert.equal(events.scope, 'channel');
    assert.equal(events.protocol, 'demo');
    assert.equal(events.session_id, status.session_id);
    const all = await ok(client, 'read_all_events', { limit: 5 });
    assert.equal(all.scope, 'all_channels');
    assert.match(await refused(client, 'read_all_events', { channel_id: wave.id }), /^read_all_events /);
    assert.match(await refused(client, 'read_events', {}), /^必须指定非空 channel_id/);

    const samples = await until(async () => {
      const read = await ok(client, 'read_waveform', { channel_id: wave.id, limit: 10 });
      return read.sources?.default?.samples?.length ? read : null;
    });
    assert.equal(samples.protocol, 'wave/1');
    assert.ok('mode' in await ok(client, 'read_structured', { channel_id: structured.id }));
    assert.ok('enabled' in await ok(client, 'read_script_results', { channel_id: wave.id }));

    assert.equal(await refused(client, 'list_search_views', { channel_id: wave.id }), 'GUI 搜索服务尚未连接');
    assert.equal(await refused(client, 'search_logs', { channel_id: wave.id, view_id: 'v' }), 'GUI 搜索服务尚未连接');
    assert.equal(await refused(client, 'Get_Status'), '未知工具');
  });

  test('acting tools over a real TCP peer, the AI gate and the protocol switches', async () => {
    const received = [];
    let peerSocket;
    const peer = net.createServer(socket => {
      peerSocket = socket;
      socket.on('data', chunk => received.push(chunk));
    });
    await new Promise(resolve => peer.listen(0, '127.0.0.1', resolve));
    const peerPort = peer.address().port;
    const tcpConfig = { kind: 'tcp-client', host: '127.0.0.1', network_port: peerPort };
    try {
      assert.equal(await refused(client, 'open_connection', { config: tcpConfig }), AI_OFF);
      assert.equal(await refused(client, 'send_data', { channel_id: '', payload: 'x' }), AI_OFF);
      assert.equal(await host.command('allow-ai-control on'), 'ok');

      const opened = await ok(client, 'open_connection', { config: tcpConfig });
      const id = opened.id;
      await until(async () => (await ok(client, 'list_connections')).result.find(c => c.id === id)?.state === 'connected');
      await until(() => peerSocket);

      const receipt = await ok(client, 'send_data', { channel_id: id, payload: 'hello', newline: 'lf' });
      assert.deepEqual(receipt, { channel_id: id, bytes_sent: 6, peer: '' });
      await until(() => Buffer.concat(received).toString() === 'hello\n');
      assert.equal(await refused(client, 'send_data', { channel_id: id, payload: 'aa', hex_mode: true, newline: 'x' }),
        '换行参数无效');

      // A long-poll woken by the peer's bytes: it answers on them, before its
      // wait runs out, however slow the machine (how soon is a benchmark's figure).
      const { latest_cursor: latest } = await ok(client, 'get_status');
      setTimeout(() => peerSocket.write('world'), 300);
      const started = Date.now();
      const woken = await ok(client, 'read_events', { channel_id: id, after: latest, wait_ms: 10000 });
      const waited = Date.now() - started;
      assert.ok(waited >= 250 && waited < 10000, `answered after ${waited} ms`);
      assert.equal(woken.events.length, 1);
      assert.equal(woken.events[0].direction, 'rx');
      assert.equal(woken.events[0].text, 'world');
      assert.equal(woken.events[0].hex, '77 6f 72 6c 64');

      // Protocol switches.
      assert.equal(await host.command('protocol tcp off'), 'ok');
      assert.equal(await refused(client, 'read_events', { channel_id: id }), CLOSED);
      assert.equal(await refused(client, 'send_data', { channel_id: id, payload: 'x' }), CLOSED);
      assert.equal(await refused(client, 'open_connection', { config: tcpConfig }), CLOSED);
      assert.ok(!(await ok(client, 'list_connections')).result.some(c => c.id === id));
      assert.equal((await ok(client, 'get_status')).protocol_access.tcp, false);
      assert.equal(await host.command('protocol demo off'), 'error: 未知的 MCP 协议');
      assert.equal(await host.command('protocol tcp on'), 'ok');

      const closed = await ok(client, 'close_connection', { channel_id: id });
      assert.equal(closed.state, 'closed');
      assert.ok((await ok(client, 'list_connections')).result.some(c => c.id === id && c.state === 'closed'));
    } finally {
      await host.command('allow-ai-control off');
      peerSocket?.destroy();
      await new Promise(resolve => peer.close(resolve));
    }
  });

  test('frame-script tools with revision conflicts', async () => {
    assert.equal(await host.command('allow-ai-control on'), 'ok');
    try {
      const loop = await ok(client, 'open_connection', { config: { kind: 'serial', port: 'loop://' } });
      const valid = await ok(client, 'validate_frame_script',
        { code: EXAMPLE, sample_chunks: ['AA 55 C4 09', 'E4 0C BC 0D'] });
      assert.equal(valid.valid, true);
      assert.deepEqual(valid.frames, [{ '温度': 25, '电压': 3.3 }]);
      assert.equal(valid.changes_live_script, false);
      const invalid = await ok(client, 'validate_frame_script', { code: 'void main(const uint8_t d[], int n) {\n  y = ;\n}' });
      assert.equal(invalid.valid, false);
      assert.equal(invalid.line, 2);
      assert.match(invalid.error, /^第 2 行：/);

      const first = await ok(client, 'get_frame_script', { channel_id: loop.id });
      assert.match(first.revision, /^[0-9a-f]{64}$/);
      assert.equal(await refused(client, 'set_frame_script',
        { channel_id: loop.id, code: EXAMPLE, enabled: false, expected_revision: 'stale' }), REVISION);
      const saved = await ok(client, 'set_frame_script',
        { channel_id: loop.id, code: EXAMPLE, enabled: false, expected_revision: first.revision });
      assert.equal(saved.code, EXAMPLE);
      assert.notEqual(saved.revision, first.revision);
      assert.equal(await refused(client, 'set_frame_script',
        { channel_id: loop.id, code: EXAMPLE, enabled: false, expected_revision: first.revision }), REVISION);
      assert.equal(await refused(client, 'set_frame_script',
        { channel_id: loop.id, code: EXAMPLE, enabled: false, expected_revision: saved.revision, sample_chunks: [] }),
        'GUI 试解析服务尚未连接');

      const enabled = await client.callTool({ name: 'set_frame_script', arguments:
        { channel_id: loop.id, code: EXAMPLE, enabled: true, expected_revision: saved.revision } });
      assert.equal(enabled.isError, false, enabled.content[0].text);
      assert.equal(enabled.structuredContent.enabled, true);
      await ok(client, 'send_data', { channel_id: loop.id, payload: 'AA 55 C4 09 E4 0C BC 0D', hex_mode: true });
      const results = await until(async () => {
        const read = await ok(client, 'read_script_results', { channel_id: loop.id });
        return read.sources?.default?.records?.length ? read : null;
      });
      assert.deepEqual(results.sources.default.records[0].value, { '温度': 25, '电压': 3.3 });
    } finally {
      await host.command('allow-ai-control off');
    }
  });

  test('ending a session', async () => {
    const second = await connect(host.url, 'second');
    assert.deepEqual(await second.client.ping(), {});
    await second.transport.terminateSession();
    await assert.rejects(second.client.ping());
    await second.client.close();
  });
});
