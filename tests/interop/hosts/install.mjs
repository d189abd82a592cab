// Shared by the host checks: a release directory, one installation into a
// fresh home, the example recipe published there, bounded host commands, the
// MCP server seen in a host's strace, and plain ok/FAIL reporting.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const tool = (name) => path.join(here, 'node_modules', '.bin', name);

// Every host command runs under `timeout`, so a hung host cannot stall CI.
const bounded = (seconds, command, args) => ['-k', '5', String(seconds), command, ...args];

export function run(command, args, { cwd, env, seconds = 90, input = '' } = {}) {
  const r = spawnSync('timeout', bounded(seconds, command, args), {
    cwd, env, input, encoding: 'utf8', maxBuffer: 64 << 20,
  });
  return { status: r.status, out: r.stdout ?? '', err: r.stderr ?? '' };
}

// The same bound without blocking, for a host that talks to a server in this
// process; `done` settles with what `run` returns.
export function start(command, args, { cwd, env, seconds = 90, stdin = 'ignore' } = {}) {
  const child = spawn('timeout', bounded(seconds, command, args), { cwd, env, stdio: [stdin, 'pipe', 'pipe'] });
  let out = '';
  let err = '';
  child.stdout.setEncoding('utf8').on('data', (text) => { out += text; });
  child.stderr.setEncoding('utf8').on('data', (text) => { err += text; });
  child.done = new Promise((resolve) => child.on('close', (status) => resolve({ status, out, err })));
  return child;
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
    root, home, env, work,
    executable: path.join(home, '.local/bin/tarn-agent'),
    config: path.join(home, '.config/tarn-agent/config.json'),
  };
}

// Publishes examples/candidate.json to the local registry of the install home
// and returns what `tarn-agent search QUERY` printed, with the ref it found.
export function published(install, query) {
  const candidate = fs.readFileSync(path.join(here, '../../../examples/candidate.json'), 'utf8');
  const step = (args, input = '', env = install.env) => {
    const r = run(install.executable, args, { env, input });
    if (r.status !== 0) throw new Error(`tarn-agent ${args[0]} failed (${r.status}): ${r.err}`);
    return r.out;
  };
  const { digest } = JSON.parse(step(['prepare'], candidate));
  step(['share', digest], '', { ...install.env, TARN_TOKEN: 'tl_interop_not_secret' });
  const printed = step(['search', query]);
  return { printed, ref: JSON.parse(printed).hits[0].ref };
}

// A host run under strace leaves one file per process: how each was started
// and every read it made, so the trace shows which MCP server the host
// started and the bytes that server read on its standard input.
export const traced = (dir, command, args) => {
  fs.mkdirSync(dir);
  return ['strace', ['-ff', '-qq', '-v', '-s', '65536', '-e', 'trace=execve,read', '-o', path.join(dir, 'pid'),
    command, ...args]];
};

const cString = (text) => Buffer.from(text.replace(/\\([0-7]{1,3}|.)/g, (_, e) => String.fromCharCode(
  /^[0-7]/.test(e) ? parseInt(e, 8) : ({ n: 10, t: 9, r: 13, v: 11, f: 12 }[e] ?? e.charCodeAt(0)))), 'latin1')
  .toString('utf8');

// Every process in the trace that executed `executable`, with the execve line
// and the lines it read on descriptor 0.
export function servers(dir, executable) {
  return fs.readdirSync(dir).map((name) => fs.readFileSync(path.join(dir, name), 'utf8').split('\n'))
    .map((trace) => [trace, trace.findIndex((l) => l.startsWith(`execve("${executable}", `))])
    .filter(([, at]) => at >= 0)
    .map(([trace, at]) => ({
      execve: trace[at],
      input: trace.slice(at + 1).map((l) => /^read\(0, "((?:[^"\\]|\\.)*)"/.exec(l)?.[1]).filter(Boolean)
        .map(cString).join('').split('\n').filter(Boolean),
    }));
}

// What the host started must be exactly the registration install wrote.
export function checkStarted(started, install) {
  const [server] = started;
  console.log(`MCP server started: ${server?.execve}`);
  check(started.length === 1, 'the host started one MCP server from the installed executable', `${started.length}`);
  check(server?.execve.startsWith(`execve("${install.executable}", ["${install.executable}", "mcp"], [`)
    && server.execve.includes(`"TARN_AGENT_CONFIG=${install.config}"`) && server.execve.endsWith(') = 0'),
    'with the arguments ["mcp"] and TARN_AGENT_CONFIG as registered');
}

// The server read exactly one tools/call, for search with the query given.
export function checkCalled(started, query) {
  const json = (line) => { try { return JSON.parse(line); } catch { return {}; } };
  const calls = (started[0]?.input ?? []).filter((line) => json(line).method === 'tools/call');
  console.log(`MCP request: ${calls.join('\n')}`);
  const params = calls.length === 1 ? json(calls[0]).params : {};
  check(params.name === 'search' && JSON.stringify(params.arguments) === JSON.stringify({ query }),
    `the server read one tools/call of search for "${query}"`);
}
