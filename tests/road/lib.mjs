// Shared by the road tests: Debian's Chromium through playwright-core, small HTTP servers on
// loopback, and waiting.
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const chromiumPath = '/usr/bin/chromium';

// Missing tools fail the test with the line that installs them; a road test never passes
// without a browser.
export function need(what, path, hint) {
  if (!path || !existsSync(path)) throw new Error(`${what} is missing (${path || 'not configured'}): ${hint}`);
  return path;
}

const modules = need('playwright-core', process.env.ROAD_NODE_MODULES, 'build the road_node_tools target (npm ci)');
const { chromium } = createRequire(join(modules, '..', 'resolve.cjs'))('playwright-core');

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Retries `probe` until it returns something truthy, or fails with `what` after `seconds`.
export async function until(what, probe, seconds = 10) {
  const deadline = Date.now() + seconds * 1000;
  let last;
  for (;;) {
    last = await probe();
    if (last) return last;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(100);
  }
}

// The headless browser's own user agent names it "HeadlessChrome", which the collector rightly
// takes for a robot; the road is walked as a desktop browser.
const userAgent =
  'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/156.0.0.0 Safari/537.36';

// A fresh Chromium profile. Without `automation` the page sees navigator.webdriver false, as a
// visitor's browser does; with it, Chromium keeps its automation switches and the page sees true.
// `hosts` are names that resolve to 127.0.0.1 in this browser only.
export async function launchBrowser({ automation = false, hosts = [] } = {}) {
  need('Chromium', chromiumPath, 'apt-get install chromium');
  const profile = mkdtempSync(join(tmpdir(), 'orvela-chromium-'));
  const args = [
    '--headless',
    '--no-sandbox',
    '--disable-gpu',
    '--disable-quic',
    '--no-first-run',
    '--disable-background-networking',
    '--disable-component-update',
    '--disable-sync',
    `--user-agent=${userAgent}`,
  ];
  if (hosts.length) args.push('--host-resolver-rules=' + hosts.map((host) => `MAP ${host} 127.0.0.1`).join(', '));
  if (!automation) args.push('--disable-blink-features=AutomationControlled');
  // launchPersistentContext is playwright's way to pass --user-data-dir.
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args,
    ignoreDefaultArgs: automation ? [] : ['--enable-automation'],
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// An HTTP server on 127.0.0.1 whose `handle(request, body, response)` answers everything.
export async function serve(handle) {
  const server = createServer((request, response) => {
    const chunks = [];
    request.on('data', (chunk) => chunks.push(chunk));
    request.on('end', () => handle(request, Buffer.concat(chunks).toString('utf8'), response));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    port: server.address().port,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

export function sendHtml(response, html) {
  response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
  response.end(html);
}

// A page of a site: a tracked button (the label on the element around the clicked text), a link
// to an anchor of the same page, a link to another host, and the snippet.
export function sitePage(snippet, title = 'A site') {
  return `<!doctype html>
<html><head><meta charset="utf-8"><title>${title}</title>${snippet}</head>
<body>
  <h1>${title}</h1>
  <button id="signup" data-orvela-click="Sign up"><span>Create an account</span></button>
  <a id="anchor" href="#pricing">Pricing</a>
  <a id="outbound" href="http://elsewhere.test/story?ref=1" target="_blank" rel="noopener">Elsewhere</a>
  <div style="height: 2000px"></div>
  <h2 id="pricing">Pricing</h2>
</body></html>`;
}
