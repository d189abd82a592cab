// Shared by the host checks: a release directory, one installation into a
// fresh home, bounded host commands and plain ok/FAIL reporting.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const tool = (name) => path.join(here, 'node_modules', '.bin', name);

// Every host command runs under `timeout`, so a hung host cannot stall CI.
export function run(command, args, { cwd, env, seconds = 90 } = {}) {
  const r = spawnSync('timeout', ['-k', '5', String(seconds), command, ...args], {
    cwd, env, input: '', encoding: 'utf8', maxBuffer: 64 << 20,
  });
  return { status: r.status, out: r.stdout ?? '', err: r.stderr ?? '' };
}

export function check(ok, what, detail = '') {
  if (ok) {
    console.log(`ok: ${what}`);
  } else {
    console.log(`FAIL: ${what}${detail ? `\n${detail}` : ''}`);
    process.exitCode = 1;
  }
}

// Installs from a release directory holding tarn-agent and a sibling tarn.
export function installed(hosts = 'codex,claude,pi') {
  const agent = process.env.TARN_AGENT_BIN;
  if (!agent) throw new Error('TARN_AGENT_BIN is not set');
  const root = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'tarn-hosts-')));
  process.on('exit', () => fs.rmSync(root, { recursive: true, force: true }));
  const release = path.join(root, 'release');
  fs.mkdirSync(release);
  fs.copyFileSync(agent, path.join(release, 'tarn-agent'));
  fs.chmodSync(path.join(release, 'tarn-agent'), 0o755);
  if (process.env.TARN_REGISTRY_BIN) fs.copyFileSync(process.env.TARN_REGISTRY_BIN, path.join(release, 'tarn'));
  else fs.writeFileSync(path.join(release, 'tarn'), '#!/bin/sh\necho "{}"\n');
  fs.chmodSync(path.join(release, 'tarn'), 0o755);
  const home = path.join(root, 'home');
  fs.mkdirSync(home);
  const env = { PATH: process.env.PATH, HOME: home, CODEX_HOME: path.join(home, '.codex'),
    DISABLE_TELEMETRY: '1', CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC: '1' };
  const r = run(path.join(release, 'tarn-agent'), ['install', '--hosts', hosts, '--home', home], { env });
  if (r.status !== 0) throw new Error(`install failed (${r.status}): ${r.err}`);
  const work = path.join(home, 'work');
  fs.mkdirSync(work);
  return {
    home, env, work,
    executable: path.join(home, '.local/bin/tarn-agent'),
    config: path.join(home, '.config/tarn-agent/config.json'),
  };
}

