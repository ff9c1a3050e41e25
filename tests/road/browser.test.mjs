// The tracking script in Debian's Chromium, against a collector that records every request: what
// a visit sends, how, and where it stays quiet.
import assert from 'node:assert/strict';
import { readFileSync, mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { launchBrowser, need, sendHtml, serve, sitePage, sleep, until } from './lib.mjs';

const site = '0d6c8f1e-5a2b-4c3d-9e8f-7a6b5c4d3e2f';
const script = readFileSync(need('the minified script', process.env.ROAD_SCRIPT, 'build orvela-server'));

let collector, website, browser;
const events = [];

// The events of one page of the test, told apart by the path they report.
const eventsFor = (prefix) => events.filter((event) => event.page.startsWith(prefix));

before(async () => {
  // The collector's side: the script and /v1/event, on an origin of its own as in real use.
  collector = await serve((request, body, response) => {
    if (request.url === '/script.js') {
      response.writeHead(200, { 'Content-Type': 'application/javascript' });
      return response.end(script);
    }
    if (request.method === 'POST' && request.url === '/v1/event') {
      const sent = JSON.parse(body);
      events.push({
        ...sent,
        page: new URL(sent.u).pathname,
        contentType: request.headers['content-type'],
        mode: request.headers['sec-fetch-mode'],
        cookie: request.headers.cookie,
      });
      response.writeHead(202, { 'Access-Control-Allow-Origin': '*' });
      return response.end();
    }
    response.writeHead(404);
    response.end();
  });
  const snippet = `<script defer src="http://127.0.0.1:${collector.port}/script.js" data-site="${site}"></script>`;
  website = await serve((request, body, response) => sendHtml(response, sitePage(snippet)));
  website.snippet = snippet;
  browser = await launchBrowser({ hosts: ['site.test', 'elsewhere.test'] });
});

after(async () => {
  await browser?.close();
  await website?.close();
  await collector?.close();
});

const origin = () => `http://site.test:${website.port}`;

test('a visit: page views on load and navigation, labelled and outbound clicks, a ping when closed', async () => {
  const page = await browser.context.newPage();
  await page.goto(`${origin()}/visit?email=someone@example.org#top`);
  assert.equal(await page.evaluate(() => navigator.webdriver), false);
  await until('the first page view', () => eventsFor('/visit').length === 1);

  await page.evaluate(() => history.pushState({}, '', '/visit/docs'));
  await page.evaluate(() => history.replaceState({}, '', '/visit/docs?tab=2'));  // same path
  await page.evaluate(() => history.replaceState({}, '', '/visit/docs/intro'));
  await page.evaluate(() => history.pushState({}, '', '/visit/docs/intro'));  // a pushState always counts
  await page.click('#anchor');  // a jump within the page: a history step on the same path and host
  await page.evaluate(() => history.back());  // back from the anchor: the path is unchanged
  await page.evaluate(() => history.go(-2));  // back to the first page: the path changes
  await until('the page view of the way back', () => eventsFor('/visit').length === 5);
  await page.click('#signup span');
  const [popup] = await Promise.all([browser.context.waitForEvent('page'), page.click('#outbound')]);
  await popup.close();
  await until('both clicks', () => eventsFor('/visit').filter((event) => event.k === 'click').length === 2);

  const storage = await page.evaluate(() => [document.cookie, localStorage.length, sessionStorage.length]);
  assert.deepEqual(storage, ['', 0, 0], 'the script keeps nothing in the browser');
  await page.close({ runBeforeUnload: true });
  await until('the ping', () => eventsFor('/visit').some((event) => event.k === 'ping'));
  await sleep(300);

  const seen = eventsFor('/visit').map((event) => [event.k, event.page, event.l ?? null]);
  assert.deepEqual(seen, [
    ['pageview', '/visit', null],
    ['pageview', '/visit/docs', null],
    ['pageview', '/visit/docs/intro', null],
    ['pageview', '/visit/docs/intro', null],
    ['pageview', '/visit', null],
    ['click', '/visit', 'Sign up'],
    ['click', '/visit', 'Outbound: elsewhere.test'],
    ['ping', '/visit', null],
  ]);
  for (const event of eventsFor('/visit')) {
    assert.equal(event.s, site);
    assert.match(event.u, /^http:\/\/site\.test:\d+\/visit[^?#]*$/, 'no query or fragment leaves the page');
    assert.equal(event.contentType, 'text/plain;charset=UTF-8');
    assert.equal(event.mode, 'no-cors', 'sent with navigator.sendBeacon');
    assert.equal(event.cookie, undefined);
  }
  assert.deepEqual(await browser.context.cookies(), []);
});

test('falls back to fetch with keepalive when the browser refuses the beacon', async () => {
  const page = await browser.context.newPage();
  await page.addInitScript(() => {
    navigator.sendBeacon = () => false;
    const original = window.fetch;
    window.fetchOptions = [];
    window.fetch = (url, options) => {
      window.fetchOptions.push(options);
      return original(url, options);
    };
  });
  await page.goto(`${origin()}/fallback`);
  const [event] = await until('the page view through fetch', () => eventsFor('/fallback').length && eventsFor('/fallback'));
  assert.equal(event.k, 'pageview');
  assert.equal(event.mode, 'cors');
  assert.equal(event.contentType, 'text/plain;charset=UTF-8');
  assert.deepEqual(await page.evaluate(() => window.fetchOptions.map((options) => [options.method, options.keepalive])), [
    ['POST', true],
  ]);
  await page.close();
});

test('quiet on localhost, 127.0.0.1, file: pages and with localStorage.orvela_ignore', async () => {
  const quiet = [
    `http://localhost:${website.port}/quiet-localhost`,
    `http://127.0.0.1:${website.port}/quiet-loopback`,
  ];
  const folder = mkdtempSync(join(tmpdir(), 'orvela-file-page-'));
  const file = join(folder, 'quiet-file.html');
  writeFileSync(file, sitePage(website.snippet));
  quiet.push(`file://${file}`);
  try {
    for (const address of quiet) {
      const page = await browser.context.newPage();
      await page.goto(address);
      // The script ran: the page's history is patched.
      await until(`the script on ${address}`, () => page.evaluate(() => !/native code/.test(history.pushState)));
      await page.evaluate(() => history.pushState({}, '', '?next'));  // a pushState always counts
      await page.click('#signup');
      await page.close({ runBeforeUnload: true });
    }

    const page = await browser.context.newPage();
    await page.goto(`${origin()}/ignored`);
    await page.evaluate(() => {
      localStorage.orvela_ignore = '1';
    });
    // What the first load sent is before the opt-out; nothing after it.
    await until('the page view before the opt-out', () => eventsFor('/ignored').length === 1);
    await page.evaluate(() => history.pushState({}, '', '/ignored/next'));
    await page.click('#signup');
    await page.reload();
    await page.evaluate(() => history.pushState({}, '', '/ignored/after-reload'));

    // The road is open: a page of the same site without the opt-out is counted.
    await page.evaluate(() => localStorage.removeItem('orvela_ignore'));
    await page.evaluate(() => history.pushState({}, '', '/control'));
    await until('the control page view', () => eventsFor('/control').length === 1);
    await page.close({ runBeforeUnload: true });
    await sleep(500);

    const stray = events.filter((event) => /quiet|file/.test(event.page));
    assert.deepEqual(stray, []);
    assert.deepEqual(
      eventsFor('/ignored').map((event) => event.page),
      ['/ignored']
    );
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
});

test('under automation the page sees navigator.webdriver true and the script sends nothing', async () => {
  const automated = await launchBrowser({ automation: true, hosts: ['site.test'] });
  try {
    const page = await automated.context.newPage();
    await page.goto(`${origin()}/automated`);
    assert.equal(await page.evaluate(() => navigator.webdriver), true);
    await until('the script', () => page.evaluate(() => !/native code/.test(history.pushState)));
    await page.evaluate(() => history.pushState({}, '', '/automated/next'));
    await page.click('#signup');
    await page.close({ runBeforeUnload: true });
    await sleep(1000);
    assert.deepEqual(eventsFor('/automated'), []);
  } finally {
    await automated.close();
  }
});
