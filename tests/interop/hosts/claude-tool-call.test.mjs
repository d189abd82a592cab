// Claude Code answers one prompt against a scripted model that calls tarn's
// search: Claude must start the installed server as registered, call the
// tool, and hand the registry's answer back in its next model request.
import path from 'node:path';
import { check, checkCalled, checkStarted, installed, published, servers, start, tool, traced } from './install.mjs';
import { scriptedModel, sse } from './model.mjs';

const query = 'jittered backoff';
const install = installed('claude');
const { printed, ref } = published(install, query);

const message = (block, delta, stop) => sse([
  ['message_start', { type: 'message_start', message: { id: 'msg_1', type: 'message', role: 'assistant',
    model: 'mock-model', content: [], stop_reason: null, usage: { input_tokens: 1, output_tokens: 1 } } }],
  ['content_block_start', { type: 'content_block_start', index: 0, content_block: block }],
  ['content_block_delta', { type: 'content_block_delta', index: 0, delta }],
  ['content_block_stop', { type: 'content_block_stop', index: 0 }],
  ['message_delta', { type: 'message_delta', delta: { stop_reason: stop }, usage: { output_tokens: 1 } }],
  ['message_stop', { type: 'message_stop' }],
]);
const model = await scriptedModel((request, requests) => {
  if (request.method === 'HEAD') return { status: 200 };
  if (requests.filter((q) => q.method === 'POST').length === 1) {
    return message({ type: 'tool_use', id: 'toolu_1', name: 'mcp__tarn__search', input: {} },
      { type: 'input_json_delta', partial_json: JSON.stringify({ query }) }, 'tool_use');
  }
  return message({ type: 'text', text: '' }, { type: 'text_delta', text: 'done' }, 'end_turn');
}, { limit: 5, seconds: 120 });

// The model provider is all Claude is told besides what install wrote.
const env = { ...install.env, ANTHROPIC_BASE_URL: `http://127.0.0.1:${model.port}`, ANTHROPIC_API_KEY: 'x',
  DISABLE_AUTOUPDATER: '1', DISABLE_ERROR_REPORTING: '1' };
const trace = path.join(install.root, 'trace');
const [strace, args] = traced(trace, tool('claude'), ['-p', `Search the tarn registry for ${query}`,
  '--allowedTools', 'mcp__tarn__search', '--output-format', 'stream-json', '--verbose']);
const began = Date.now();
const r = await start(strace, args, { env, cwd: install.work, seconds: 120 }).done;
model.stop();
console.log(`claude -p: exit ${r.status} after ${Date.now() - began} ms`);
const events = r.out.split('\n').filter(Boolean).map((line) => { try { return JSON.parse(line); } catch { return {}; } });
const result = events.find((e) => e.type === 'result');
// A denied call still exits 0, so the result's denials decide.
check(r.status === 0 && result?.subtype === 'success' && result.permission_denials?.length === 0,
  'claude -p succeeds without a permission denial', r.out + r.err.slice(-4000));

const started = servers(trace, install.executable);
checkStarted(started, install);
checkCalled(started, query);

const posts = model.requests.filter((q) => q.method === 'POST' && q.url === '/v1/messages?beta=true');
const output = posts[1]?.json?.messages.at(-1)?.content.find((block) => block.type === 'tool_result');
console.log(`model request 2 carried: ${JSON.stringify(output)}`);
check(posts.length === 2, 'Claude sent two model requests', model.requests.map((q) => `${q.method} ${q.url}`).join('\n'));
check(!posts[0]?.body.includes(ref), `the first model request does not know ${ref}`);
check(output?.tool_use_id === 'toolu_1' && JSON.stringify(output.content) ===
  JSON.stringify([{ type: 'text', text: printed.trimEnd() }]),
  'the next model request hands back exactly what tarn-agent search prints');
