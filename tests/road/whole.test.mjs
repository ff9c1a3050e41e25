// The whole road: a visitor's browser loads a page carrying the app's snippet, orvela-server
// counts the visit, and the real app, pointed at that server with the account's token, shows it.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { launchBrowser, need, sendHtml, serve, sitePage, sleep, until } from './lib.mjs';

const serverBinary = need('orvela-server', process.env.ROAD_SERVER, 'build orvela-server');
const appBinary = need('orvela', process.env.ROAD_APP, 'build orvela');
const helper = need('orvela-road-helper', process.env.ROAD_HELPER, 'build orvela-road-helper');

const siteId = '3A0F5C2E-8B1D-4E6F-9A7C-2D4B6E8F0A1C';
const work = mkdtempSync(join(tmpdir(), 'orvela-road-'));
const children = [];
let server, base, token, website, browser;

// Starts a program, keeping what it prints; `exited` settles with its status.
function start(program, args, env = process.env) {
  const child = spawn(program, args, { env, stdio: ['ignore', 'pipe', 'pipe'] });
  child.out = '';
  child.err = '';
  child.stdout.on('data', (data) => (child.out += data));
  child.stderr.on('data', (data) => (child.err += data));
  child.exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve(signal ?? code)));
  children.push(child);
  return child;
}

async function stop(child) {
  if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
  return child.exited;
}

async function stats() {
  const response = await fetch(`${base}/v1/stats?website=${siteId}&offset=0`, {
    headers: { Authorization: `Bearer ${token}` },
  });
  assert.equal(response.status, 200, await response.clone().text());
  return response.json();
}

before(async () => {
  const data = join(work, 'data');
  token = execFileSync(serverBinary, ['token', 'create', '--data', data], { encoding: 'utf8' }).trim();
  assert.match(token, /\S{20,}/);
  server = start(serverBinary, ['serve', '--listen', '127.0.0.1:0', '--data', data]);
  const port = await until('orvela-server to listen', () => /serving http:\/\/127\.0\.0\.1:(\d+)\//.exec(server.out)?.[1]);
  base = `http://127.0.0.1:${port}`;

  // The account lists the website before any visit, as the app would have saved it.
  const saved = await fetch(`${base}/v1/state`, {
    method: 'PUT',
    headers: { Authorization: `Bearer ${token}`, 'Content-Type': 'application/json' },
    body: JSON.stringify({
      websites: [{ id: siteId, displayName: 'Road test', domain: 'site.test' }],
      selectedWebsiteID: siteId,
      refreshInterval: 60,
    }),
  });
  assert.equal(saved.status, 200, await saved.text());

  // The page carries exactly the snippet the app shows for this website and service.
  const snippet = execFileSync(helper, ['snippet', siteId, base], { encoding: 'utf8' }).trim();
  assert.equal(snippet, `<script defer src="${base}/script.js" data-site="${siteId.toLowerCase()}"></script>`);
  website = await serve((request, body, response) => sendHtml(response, sitePage(snippet, 'Road test')));
  browser = await launchBrowser({ hosts: ['site.test', 'elsewhere.test'] });
});

after(async () => {
  await browser?.close();
  await website?.close();
  for (const child of children) await stop(child);
  if (process.exitCode) for (const child of children) process.stderr.write(child.err);
  rmSync(work, { recursive: true, force: true });
});

test('a visit in the browser is counted by the service', async () => {
  const page = await browser.context.newPage();
  const scriptResponse = page.waitForResponse((response) => response.url() === `${base}/script.js`);
  // A host name, as the page sees it, that the script does not take for a developer's machine.
  await page.goto(`http://site.test:${website.port}/`);
  assert.equal(await page.evaluate(() => location.hostname), 'site.test');
  assert.equal(await page.evaluate(() => navigator.webdriver), false);

  const served = await scriptResponse;
  assert.equal(served.status(), 200);
  const headers = await served.allHeaders();
  assert.equal(headers['content-encoding'], 'gzip');
  assert.equal(headers['cache-control'], 'public, max-age=3600');
  assert.ok(headers.etag);

  await until('the first page view', async () => (await stats()).pageViewsToday === 1);
  await page.evaluate(() => history.pushState({}, '', '/docs'));
  await page.click('#signup');
  const [popup] = await Promise.all([browser.context.waitForEvent('page'), page.click('#outbound')]);
  await popup.close();
  await sleep(2200);
  // Closing the tab hides the page: the ping ends the visit's measured time.
  const closedAt = Date.now();
  await page.close({ runBeforeUnload: true });

  // The service keeps whole seconds: the ping's lastSeen is at most a second before closedAt.
  const figures = await until(
    'the clicks and the ping to be counted',
    async () => {
      const now = await stats();
      const visit = now.recent?.[0];
      return visit && visit.clicks.length === 2 && Date.parse(visit.lastSeen) > closedAt - 1000 && now;
    },
    15
  );
  assert.equal(figures.liveVisitors, 1);
  assert.equal(figures.visitorsToday, 1);
  assert.equal(figures.pageViewsToday, 2);
  assert.equal(figures.trackingInstalled, true);
  assert.equal(figures.recent.length, 1);
  const [visit] = figures.recent;
  assert.deepEqual(visit.pages, ['/', '/docs']);
  assert.deepEqual([...visit.clicks].sort(), ['Outbound: elsewhere.test', 'Sign up']);
  assert.ok(visit.seconds >= 2, `a visit of ${visit.seconds} s`);
  assert.equal(visit.referrer, '');
});

test('the app adopts the account and shows the same visit', async () => {
  const home = join(work, 'app');
  const config = join(home, 'config');
  const runtime = join(home, 'run');
  mkdirSync(config, { recursive: true });
  mkdirSync(runtime, { recursive: true, mode: 0o700 });
  // The keyring and session bus come from with-keyring, which runs this test.
  assert.ok(process.env.DBUS_SESSION_BUS_ADDRESS, 'run under scripts/lib/with-keyring');
  const app = start(appBinary, [], {
    ...process.env,
    QT_QPA_PLATFORM: 'offscreen',
    XDG_CONFIG_HOME: config,
    XDG_RUNTIME_DIR: runtime,
    ORVELA_BASE_URL: base,
    ORVELA_SYNC_TOKEN: token,
  });

  const readState = () => {
    try {
      return JSON.parse(execFileSync(helper, ['state', join(config, 'orvela', 'orvela.conf')], { encoding: 'utf8' }));
    } catch {
      return null;  // not written yet
    }
  };
  const state = await until(
    "the app's stored figures for the account's website",
    () => {
      const now = readState();
      const stored = now?.snapshots?.find((entry) => entry.websiteID === siteId);
      return stored && stored.snapshot.pageViewsToday > 0 && now;
    },
    45
  ).catch((error) => {
    throw new Error(`${error.message}; orvela printed: ${app.err}`);
  });

  assert.ok(state.websites.some((site) => site.id === siteId && site.domain === 'site.test'));
  assert.equal(state.selectedWebsiteID, siteId);
  const { snapshot } = state.snapshots.find((entry) => entry.websiteID === siteId);
  const figures = await stats();
  assert.equal(snapshot.liveVisitors, 1);
  assert.equal(snapshot.pageViewsToday, 2);
  assert.equal(snapshot.liveVisitors, figures.liveVisitors);
  assert.equal(snapshot.visitorsToday, figures.visitorsToday);
  assert.ok(snapshot.trackingInstalled);
  assert.deepEqual(
    snapshot.recentVisitors.map((visitor) => [visitor.pages, visitor.clicks.length, visitor.seconds > 0]),
    [[['/', '/docs'], 2, true]]
  );

  assert.equal(await stop(app), 0, `orvela ended badly: ${app.err}`);
});
