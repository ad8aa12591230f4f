// End to end: the official MCP TypeScript SDK's stdio client starts our stdio
// bridge, which relays to a real MCP server in mcp-test-host.
// Run by CTest (agent_bridge_sdk_e2e) with MCP_TEST_HOST, VARNELLE_MCP and
// MCP_SDK_DIR (the folder holding node_modules) set.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';
import { pathToFileURL } from 'node:url';

const sdk = `${process.env.MCP_SDK_DIR}/node_modules/@modelcontextprotocol/sdk/dist/esm`;
const { Client } = await import(pathToFileURL(`${sdk}/client/index.js`));
const { StdioClientTransport } = await import(pathToFileURL(`${sdk}/client/stdio.js`));

function startHost() {
  const host = spawn(process.env.MCP_TEST_HOST, ['--port', '0', '--demo'], { stdio: ['pipe', 'pipe', 'inherit'] });
  const exited = new Promise(resolve => host.on('exit', (code, signal) => resolve({ code, signal })));
  const url = new Promise(resolve => createInterface({ input: host.stdout }).once('line', resolve));
  return { host, exited, url };
}

describe('stdio bridge with the official SDK client', () => {
  let server;
  let client;
  let transport;

  before(async () => {
    server = startHost();
    const url = await server.url;
    assert.match(url, /^http:\/\/127\.0\.0\.1:\d+\/mcp$/);
    transport = new StdioClientTransport({ command: process.env.VARNELLE_MCP, args: ['--url', url], stderr: 'inherit' });
    client = new Client({ name: 'bridge-e2e', version: '1.0.0' });
    await client.connect(transport);
  });

  after(async () => {
    await client?.close();
    server.host.stdin.end();
    assert.deepEqual(await server.exited, { code: 0, signal: null });
  });

  test('initializes through the bridge', () => {
    assert.equal(client.getServerVersion().name, 'Varnelle Native');
  });

  test('lists the tools', async () => {
    const { tools } = await client.listTools();
    assert.equal(tools.length, 17);
    assert.ok(tools.some(tool => tool.name === 'get_status'));
  });

  test('calls a tool', async () => {
    const result = await client.callTool({ name: 'get_status', arguments: {} });
    assert.equal(result.isError, false);
    assert.equal(result.content[0].type, 'text');
    assert.ok(JSON.parse(result.content[0].text));
  });

  test('pings', async () => {
    assert.deepEqual(await client.ping(), {});
  });
});
