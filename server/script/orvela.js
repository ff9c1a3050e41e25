// Orvela's tracking script, served minified as /script.js. Pasted into a page as
//   <script defer src="BASE/script.js" data-site="SITE-ID"></script>
// it reports page views, labelled clicks, outbound links and a ping when the page is hidden
// (which closes the visit's duration) to BASE/v1/event. It sets no cookie and stores nothing.
(() => {
  const script = document.currentScript;
  const site = script && script.getAttribute('data-site');
  if (!site) return;
  const endpoint = new URL(script.src).origin + '/v1/event';
  const where = location;

  // Checked at every event, so that a site owner's opt-out takes effect at once.
  const ignored = () => {
    try {
      if (localStorage.getItem('orvela_ignore') != null) return true;
    } catch (blocked) {
      // Storage refused (a sandboxed frame, blocked site data): nothing to read.
    }
    return (
      navigator.webdriver ||
      where.protocol == 'file:' ||
      where.hostname == 'localhost' ||
      where.hostname == '127.0.0.1'
    );
  };

  const send = (kind, label) => {
    if (ignored()) return;
    // Origin and path only: queries and fragments often carry personal data.
    const body = JSON.stringify({
      s: site,
      k: kind,
      u: where.origin + where.pathname,
      r: document.referrer,
      l: label,
    });
    // A string body goes as text/plain, which needs no preflight; sendBeacon also survives
    // the page being closed, and keepalive gives fetch the same when beacons are refused.
    if (!(navigator.sendBeacon && navigator.sendBeacon(endpoint, body)))
      fetch(endpoint, { method: 'POST', body, keepalive: true }).catch(() => {});
  };

  let path;
  const pageview = (always) => {
    if (always || where.pathname != path) {
      path = where.pathname;
      send('pageview');
    }
  };

  // Single-page navigations: every pushState is one, a replaceState or a history step
  // (which a jump to an anchor also makes) only when the path changes.
  for (const method of ['pushState', 'replaceState']) {
    const original = history[method];
    history[method] = function () {
      const result = original.apply(this, arguments);
      pageview(method == 'pushState');
      return result;
    };
  }
  addEventListener('popstate', () => pageview());

  document.addEventListener(
    'click',
    (event) => {
      const target = event.target;
      if (!target.closest) return;
      const tracked = target.closest('[data-orvela-click]');
      const link = target.closest('a[href]');
      if (tracked) send('click', tracked.getAttribute('data-orvela-click'));
      else if (link && /^https?:$/.test(link.protocol) && link.hostname != where.hostname)
        send('click', 'Outbound: ' + link.hostname);
    },
    true
  );

  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState == 'hidden') send('ping');
  });

  pageview(true);
})();
