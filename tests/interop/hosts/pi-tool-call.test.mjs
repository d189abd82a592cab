// Pi loads the installed /tl adapter by itself: a bare /tl only shows the
// usage, /tl with arguments hands the request to the model, and the scripted
// model's bash call of the installed CLI comes back in Pi's next request.
import fs from 'node:fs';
import path from 'node:path';
import { check, installed, published, start, tool } from './install.mjs';
import { scriptedModel, sse } from './model.mjs';

const query = 'jittered backoff';
const install = installed('pi');
const { printed, ref } = published(install, query);
const command = `${install.executable} search "${query}"`;

const chunk = (delta, finish = null) => ['', { id: 'chunk_1', object: 'chat.completion.chunk', created: 1,
  model: 'mock-model', choices: [{ index: 0, delta, finish_reason: finish }] }];
const model = await scriptedModel((request, requests) => sse([
  requests.length === 1
    ? chunk({ role: 'assistant', tool_calls: [{ index: 0, id: 'call_1', type: 'function',
      function: { name: 'bash', arguments: JSON.stringify({ command }) } }] })
    : chunk({ role: 'assistant', content: 'done' }),
  chunk({}, requests.length === 1 ? 'tool_calls' : 'stop'),
  ['', '[DONE]'],
]), { limit: 4, seconds: 120 });

// The model provider is the one setting added to what install wrote.
fs.writeFileSync(path.join(install.home, '.pi/agent/models.json'), JSON.stringify({ providers: { mock: {
  baseUrl: `http://127.0.0.1:${model.port}/v1`, api: 'openai-completions', apiKey: 'x',
  compat: { supportsDeveloperRole: false, supportsReasoningEffort: false },
  models: [{ id: 'mock-model', name: 'Mock' }] } } }));

const began = Date.now();
const pi = start(tool('pi'), ['--mode', 'rpc', '--offline', '--no-session', '--provider', 'mock', '--model', 'mock-model'],
  { env: { ...install.env, PI_OFFLINE: '1' }, cwd: install.work, seconds: 120, stdin: 'pipe' });
const send = (line) => pi.stdin.write(`${JSON.stringify(line)}\n`);
// One command at a time: the next goes once Pi has answered the previous one.
const script = [{ type: 'prompt', message: '/tl   ' }, { type: 'prompt', message: `/tl search ${query}` }];
const events = [];
let asked = -1;
let rest = '';
pi.stdout.on('data', (text) => {
  const lines = (rest + text).split('\n');
  rest = lines.pop();
  for (const line of lines) {
    const event = (() => { try { return JSON.parse(line); } catch { return { unparsed: line }; } })();
    if (event.command === 'prompt') event.before = model.requests.length;
    events.push(event);
    if (event.type === 'response' && asked < script.length - 1) send(script[++asked]);
    if (event.type === 'agent_end') pi.stdin.end();
  }
});
send({ id: 'c', type: 'get_commands' });
const r = await pi.done;
model.stop();
console.log(`pi --mode rpc: exit ${r.status} after ${Date.now() - began} ms`);
check(r.status === 0 && events.some((e) => e.type === 'agent_end'), 'Pi answers every command and ends the turn',
  r.out + r.err.slice(-4000));

const tl = events.find((e) => e.command === 'get_commands')?.data?.commands.find((c) => c.name === 'tl');
console.log(`get_commands: ${JSON.stringify(tl)}`);
check(tl?.source === 'extension' && tl.sourceInfo?.path === path.join(install.home, '.pi/agent/extensions/tarn.ts'),
  'get_commands lists tl from the installed adapter');
const notify = events.find((e) => e.type === 'extension_ui_request');
const bare = events.filter((e) => e.command === 'prompt')[0];
console.log(`/tl   : ${JSON.stringify(notify)}`);
check(notify?.method === 'notify' && notify.notifyType === 'info'
  && notify.message === '/tl search … | inspect … | context … | share …', '/tl alone notifies the usage as info');
check(bare?.success === true && bare.before === 0 && events.indexOf(notify) < events.indexOf(bare),
  '/tl alone is answered before anything reaches the model');

const texts = (messages) => (messages ?? []).filter((m) => m.role === 'user')
  .map((m) => (typeof m.content === 'string' ? m.content : m.content.map((part) => part.text).join('')));
const [first, next] = model.requests.map((q) => q.json);
console.log(`model request 1 user text: ${JSON.stringify(texts(first?.messages))}`);
check(JSON.stringify(texts(first?.messages)) === JSON.stringify([`Use the tl skill for this explicit request: search ${query}`]),
  'the model receives exactly the adapter\'s request');
check(!model.requests[0]?.body.includes(ref), `the first model request does not know ${ref}`);
const output = next?.messages.find((m) => m.role === 'tool');
console.log(`model request 2 carried: ${JSON.stringify(output)}`);
check(model.requests.length === 2, 'Pi sent two model requests');
check(output?.tool_call_id === 'call_1' && output.content === printed,
  'the next model request hands back exactly what the installed CLI printed through Pi\'s bash');
