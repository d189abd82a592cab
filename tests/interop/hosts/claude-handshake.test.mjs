// Claude Code connects to the installed MCP server from a trusted folder.
import fs from 'node:fs';
import path from 'node:path';
import { check, installed, run, tool } from './install.mjs';

const install = installed('claude');
const settings = path.join(install.home, '.claude.json');
const doc = JSON.parse(fs.readFileSync(settings, 'utf8'));
doc.projects = { [install.work]: { hasTrustDialogAccepted: true } };
fs.writeFileSync(settings, JSON.stringify(doc, null, 2));
const r = run(tool('claude'), ['mcp', 'list'], { env: install.env, cwd: install.work, seconds: 120 });
const line = r.out.split('\n').find((l) => l.startsWith('tarn:')) ?? '';
console.log(line);
// `claude mcp list` exits 0 whether or not it connected, so the text decides.
check(line.endsWith('✔ Connected'), 'claude mcp list shows tarn connected', r.out + r.err);
