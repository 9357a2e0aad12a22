// The view tests' hand on a real browser: starts headless Chromium on the
// page given, then for each line read on standard input evaluates it as a
// JavaScript expression in the page (awaiting a promise) and prints the
// value as one line of JSON; "exit" ends Chromium and the bridge. Speaks the
// browser's DevTools protocol through Node's WebSocket (node
// --experimental-websocket devtools_bridge.mjs URL PROFILE_DIR).
import {spawn} from 'node:child_process';
import {existsSync, readFileSync} from 'node:fs';
import {createInterface} from 'node:readline';

const [url, profile] = process.argv.slice(2);
const sleep = ms => new Promise(r => setTimeout(r, ms));
const browser = spawn('chromium', [
  '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--remote-debugging-port=0',
  '--user-data-dir=' + profile, 'about:blank'
], {stdio: 'ignore', detached: true});
const exited = new Promise(resolve => browser.on('exit', resolve));
// Chromium ends its helper processes when it ends by SIGTERM; whatever is
// left of its process group after 5 s is killed.
const end = async code => {
  try { process.kill(browser.pid, 'SIGTERM'); } catch (e) {}
  await Promise.race([exited, sleep(5000)]);
  try { process.kill(-browser.pid, 'SIGKILL'); } catch (e) {}
  process.exit(code);
};

let port = null;
for (let i = 0; i < 300 && !port; ++i) {  // at most 30 s
  await sleep(100);
  const file = profile + '/DevToolsActivePort';
  if (existsSync(file)) port = readFileSync(file, 'utf8').split('\n')[0];
}
if (!port) await end(1);
const target = await (await fetch(`http://127.0.0.1:${port}/json/new?${url}`, {method: 'PUT'})).json();
const socket = new WebSocket(target.webSocketDebuggerUrl);
await new Promise((resolve, reject) => { socket.onopen = resolve; socket.onerror = reject; });
let next = 0;
const waiting = new Map();
socket.onmessage = m => {
  const answer = JSON.parse(m.data);
  if (waiting.has(answer.id)) waiting.get(answer.id)(answer);
  waiting.delete(answer.id);
};
const call = (method, params) => new Promise(resolve => {
  waiting.set(++next, resolve);
  socket.send(JSON.stringify({id: next, method, params}));
});

const evaluate = async expression => {
  const answer = await call('Runtime.evaluate',
                            {expression, awaitPromise: true, returnByValue: true});
  const result = answer.result || {};
  return result.exceptionDetails ? {error: result.exceptionDetails.text}
                                 : result.result.value ?? null;
};
// The page is there once its script has run (its picture never finishes
// loading: the document's load never comes).
for (let i = 0; i < 300 && await evaluate("typeof show == 'function'") !== true; ++i)
  await sleep(100);
console.log('ready');
for await (const line of createInterface({input: process.stdin})) {
  if (line === 'exit') break;
  console.log(JSON.stringify(await evaluate(line)));
}
await end(0);
