// A scripted model for the host checks: it records every request and answers
// each with the reply the check scripted for it. It listens on 127.0.0.1 only
// and stops by itself after `limit` requests or `seconds`, whichever is first.
import http from 'node:http';

// Server-sent events: `event:` lines where the API names its events, plain
// `data:` lines where it does not.
export const sse = (events) => events.map(([name, data]) =>
  `${name ? `event: ${name}\n` : ''}data: ${typeof data === 'string' ? data : JSON.stringify(data)}\n\n`).join('');

// reply(request, requests) returns the body to stream back, or
// { status, body } for anything else; requests holds every one so far.
export async function scriptedModel(reply, { limit = 12, seconds = 90 } = {}) {
  const requests = [];
  const server = http.createServer((req, res) => {
    let body = '';
    req.setEncoding('utf8');
    req.on('data', (chunk) => { body += chunk; });
    req.on('end', () => {
      const request = { method: req.method, url: req.url, body, json: null };
      try { request.json = JSON.parse(body); } catch { /* not every request carries JSON */ }
      requests.push(request);
      let answer = { status: 503, body: 'the scripted model has answered all it will\n' };
      if (requests.length <= limit) {
        try {
          const r = reply(request, requests);
          answer = typeof r === 'string' ? { status: 200, body: r, stream: true } : r;
        } catch (e) {
          answer = { status: 500, body: `${e.stack}\n` };
        }
      }
      res.writeHead(answer.status, { 'content-type': answer.stream ? 'text/event-stream' : 'application/json' });
      // The last allowed answer is delivered in full before the server stops.
      res.end(answer.body ?? '', () => { if (requests.length >= limit) stop(); });
    });
  });
  const stop = () => { server.close(); server.closeAllConnections(); };
  const timer = setTimeout(stop, seconds * 1000);
  server.on('close', () => clearTimeout(timer));
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', resolve);
  });
  return { port: server.address().port, requests, stop };
}
