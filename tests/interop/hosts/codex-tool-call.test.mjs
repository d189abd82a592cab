// Codex runs one exec turn against a scripted model that calls tarn's search:
// Codex must start the installed server as registered, call the tool, and hand
// the registry's answer back in its next model request.
import fs from 'node:fs';
import path from 'node:path';
import { check, checkCalled, checkStarted, installed, published, servers, start, tool, traced } from './install.mjs';
import { scriptedModel, sse } from './model.mjs';

const query = 'jittered backoff';
const install = installed('codex');
const { printed, ref } = published(install, query);

const call = { type: 'function_call', id: 'fc_1', namespace: 'mcp__tarn', name: 'search', call_id: 'call_1',
  arguments: JSON.stringify({ query }) };
const answer = { type: 'message', id: 'msg_1', role: 'assistant', content: [{ type: 'output_text', text: 'done' }] };
const model = await scriptedModel((request, requests) => {
  const response = { id: `resp_${requests.length}` };
  const item = requests.length === 1 ? call : answer;
  return sse([
    ['response.created', { type: 'response.created', response }],
    ['response.output_item.added', { type: 'response.output_item.added', output_index: 0, item }],
    ['response.output_item.done', { type: 'response.output_item.done', output_index: 0, item }],
    ['response.completed', { type: 'response.completed',
      response: { ...response, usage: { input_tokens: 1, output_tokens: 1, total_tokens: 2 } } }],
  ]);
}, { limit: 4, seconds: 120 });

// The provider goes on top (top-level keys precede every table); the approval
// line goes into the installed [mcp_servers.tarn] table, which stays otherwise as written.
const settings = path.join(install.home, '.codex/config.toml');
const written = fs.readFileSync(settings, 'utf8');
const approved = written.replace('\nargs = ["mcp"]\n', '\nargs = ["mcp"]\ndefault_tools_approval_mode = "approve"\n');
check(approved !== written, 'the approval line joins the installed [mcp_servers.tarn] table');
fs.writeFileSync(settings, `model = "mock-model"
model_provider = "mock"
check_for_update_on_startup = false

[model_providers.mock]
name = "mock"
base_url = "http://127.0.0.1:${model.port}/v1"
wire_api = "responses"
request_max_retries = 0
stream_max_retries = 0

${approved}`);

const trace = path.join(install.root, 'trace');
const [strace, args] = traced(trace, tool('codex'),
  ['exec', '--skip-git-repo-check', '--json', `Search the tarn registry for ${query}`]);
const began = Date.now();
const r = await start(strace, args, { env: install.env, cwd: install.work, seconds: 120 }).done;
model.stop();
console.log(`codex exec: exit ${r.status} after ${Date.now() - began} ms`);
check(r.status === 0, 'codex exec succeeds', r.out + r.err.slice(-4000));

const started = servers(trace, install.executable);
checkStarted(started, install);
checkCalled(started, query);

const posts = model.requests.filter((q) => q.method === 'POST' && q.url === '/v1/responses');
const output = (posts[1]?.json?.input ?? []).find((item) => item.type === 'function_call_output');
console.log(`model request 2 carried: ${JSON.stringify(output)}`);
check(posts.length === 2, 'Codex sent two model requests', model.requests.map((q) => `${q.method} ${q.url}`).join('\n'));
check(!posts[0]?.body.includes(ref), `the first model request does not know ${ref}`);
check(output?.call_id === 'call_1' && output.output.some((part) => part.text === printed.trimEnd()),
  'the next model request hands back exactly what tarn-agent search prints');
