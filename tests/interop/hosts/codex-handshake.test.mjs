// Codex starts the installed MCP server and lists its tools.
import { check, installed, run, tool } from './install.mjs';

const install = installed('codex');
const r = run(tool('codex'), ['debug', 'prompt-input', 'hi'], { env: install.env, cwd: install.work, seconds: 120 });
const names = [...new Set(r.out.match(/mcp__tarn[\w.-]*/g) ?? [])];
console.log(`tool names: ${names.join(' ')}`);
check(r.status === 0, 'codex debug prompt-input succeeds', r.err);
check(names.length > 0, 'the prompt names the mcp__tarn tool namespace', r.err.slice(-4000));
