#pragma once

class QWidget;

namespace vn {

class Engine;
class SshAuthPrompt;
struct Config;
struct Theme;

// The window-modal dialog for one SSH question (host key, password or
// passphrase); returns at once and deletes itself when closed.
void showSshAuthPrompt(SshAuthPrompt* prompt, QWidget* parent, const Theme& theme);

// Runs the whole dialog that clears a host's saved secrets and known-host
// entries, modally; reports its own failures and throws nothing.
void clearSshCache(const Config& config, Engine* engine, QWidget* parent, const Theme& theme);

} // namespace vn
