// Claude Code reads the registration written by `tarn-agent install`.
import { check, installed, run, tool } from './install.mjs';

const install = installed();
const r = run(tool('claude'), ['mcp', 'get', 'tarn'], { env: install.env, cwd: install.work });
console.log(r.out.trim());
const lines = r.out.split('\n').map((l) => l.trim());
check(r.status === 0, 'claude mcp get tarn succeeds', r.err);
check(lines.includes('Type: stdio'), 'type is stdio');
check(lines.includes(`Command: ${install.executable}`), 'command is the installed tarn-agent');
check(lines.includes('Args: mcp'), 'args are mcp');
check(lines.includes(`TARN_AGENT_CONFIG=${install.config}`), 'environment names the installed configuration');
