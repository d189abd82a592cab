// The Pi adapter type-checks against the Pi package, and the skill's front
// matter is the YAML every host reads.
import fs from 'node:fs';
import path from 'node:path';
import YAML from 'yaml';
import { check, here, installed, run, tool } from './install.mjs';

const install = installed();
const project = path.join(install.home, 'pi-check');
fs.mkdirSync(project);
fs.symlinkSync(path.join(here, 'node_modules'), path.join(project, 'node_modules'));
fs.copyFileSync(path.join(install.home, '.pi/agent/extensions/tarn.ts'), path.join(project, 'tarn.ts'));
fs.writeFileSync(path.join(project, 'tsconfig.json'), JSON.stringify({
  compilerOptions: { module: 'NodeNext', moduleResolution: 'NodeNext', target: 'ES2022', strict: true,
    skipLibCheck: true, noEmit: true },
  files: ['tarn.ts'],
}));
const tsc = run(tool('tsc'), ['--noEmit', '-p', 'tsconfig.json'], { cwd: project, env: install.env });
console.log(`tsc exit ${tsc.status}${tsc.out ? `\n${tsc.out.trim()}` : ''}`);
check(tsc.status === 0, 'tsc --noEmit accepts the installed tarn.ts', tsc.err);

const skills = ['.agents/skills/tl', '.claude/skills/tl', '.pi/agent/skills/tl']
  .map((dir) => fs.readFileSync(path.join(install.home, dir, 'SKILL.md'), 'utf8'));
check(skills.every((s) => s === skills[0]), 'every host received the same skill document');
const match = /^---\n([\s\S]*?)\n---\n/.exec(skills[0]);
let front = null;
try { front = YAML.parse(match[1]); } catch (e) { console.log(e.message); }
console.log(JSON.stringify(front));
check(front?.name === 'tl', 'front matter name is tl');
check(typeof front?.description === 'string' && !front.description.trim().includes('\n'),
  'front matter description folds into one line');
