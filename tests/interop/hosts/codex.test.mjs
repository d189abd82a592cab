// Codex reads the registration written by `tarn-agent install`.
import assert from 'node:assert/strict';
import { check, installed, run, tool } from './install.mjs';

const install = installed();
const r = run(tool('codex'), ['mcp', 'get', 'tarn', '--json'], { env: install.env, cwd: install.work });
console.log(r.out.trim());
let server = null;
try { server = JSON.parse(r.out); } catch { /* reported below */ }
check(r.status === 0 && server !== null, 'codex mcp get tarn --json answers with JSON', r.err);
const transport = server?.transport ?? {};
check(transport.type === 'stdio', 'transport is stdio');
check(transport.command === install.executable, 'command is the installed tarn-agent');
check(JSON.stringify(transport.args) === '["mcp"]', 'args are ["mcp"]');
try {
  assert.deepEqual(transport.env, { TARN_AGENT_CONFIG: install.config });
  check(true, 'env holds only TARN_AGENT_CONFIG with the installed configuration');
} catch (e) {
  check(false, 'env holds only TARN_AGENT_CONFIG with the installed configuration', e.message);
}
