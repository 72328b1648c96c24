// The page's logic under node's own test runner: messages read as the desk reads them, the
// filters, the rows built for the screen, the reconnect delays.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import {
  AlertStore,
  Backoff,
  checkBrokerUrl,
  cutUtf8,
  defaultBrokerUrl,
  readMessage,
  rowWindow,
  sendTopic,
  titleWithUnseen,
  windowFromTopic,
} from '../../web/src/logic.js';

const AT = Date.parse('2026-03-01T12:00:00Z');

describe('reading a message', () => {
  test("the desk's own payload", () => {
    const payload = '{"description":"New high","desk":"velquist-3f9a0c12d4e7","price":912.4,' +
      '"strategy":"Breakouts","symbol":"NVDA","time":"2024-03-01T14:30:05.250Z"}';
    const { alerts, errors } = readMessage('velquist/alerts/Breakouts', payload, AT);
    assert.deepEqual(errors, []);
    assert.deepEqual(alerts, [{ symbol: 'NVDA', price: 912.4, description: 'New high',
      window: 'Breakouts', time: Date.parse('2024-03-01T14:30:05.250Z') }]);
  });

  test('other field names, numeric text, a byte-order mark, bytes', () => {
    const bytes = new TextEncoder().encode('\ufeff{"ticker":"AAPL","close":"189.5","message":"gap","alert_name":"Charts"}');
    const { alerts } = readMessage('velquist/alerts/X', bytes, AT);
    assert.equal(alerts[0].symbol, 'AAPL');
    assert.equal(alerts[0].price, 189.5);
    assert.equal(alerts[0].description, 'gap');
    assert.equal(alerts[0].window, 'Charts');
    assert.equal(alerts[0].time, AT, 'no time in the payload: when it came');
  });

  test('the first of a row of names counts', () => {
    const { alerts } = readMessage('t/a', '{"symbol":"A1","ticker":"B2","price":1,"close":2}', AT);
    assert.equal(alerts[0].symbol, 'A1');
    assert.equal(alerts[0].price, 1);
  });

  test('arrays and JSON lines are several alerts; bad items are errors, not the others', () => {
    const array = readMessage('velquist/alerts/W', '[{"symbol":"A"},{"price":3},{"symbol":"B"}]', AT);
    assert.deepEqual(array.alerts.map((a) => a.symbol), ['A', 'B']);
    assert.deepEqual(array.errors, ['"symbol" is missing']);
    const lines = readMessage('velquist/alerts/W', '{"symbol":"A"}\n\n{"symbol":"B","price":"x"}\n{"symbol":"C"}', AT);
    assert.deepEqual(lines.alerts.map((a) => a.symbol), ['A', 'C']);
    assert.deepEqual(lines.errors, ['"price" is not a number']);
  });

  test('plain text: the first word when written as a symbol', () => {
    const cases = [
      ['NASDAQ:AAPL crossed the 50-day', 'AAPL'],
      ['HKEX:700 up', '700'],
      ['BRK.B gap', 'BRK.B'],
      ['EUR/USD 1.10', 'EUR/USD'],
      ['^SPX new low', '^SPX'],
      ['ES1!', 'ES1!'],
    ];
    for (const [text, symbol] of cases) {
      const { alerts } = readMessage('velquist/alerts/Scan', text, AT);
      assert.equal(alerts[0]?.symbol, symbol, text);
      assert.equal(alerts[0].window, 'Scan');
      assert.equal(alerts[0].description, text);
    }
    for (const text of ['Crossing up', 'AAPL, 1h: up', 'AAPL: up', '   ', '{not json'])
      assert.equal(readMessage('velquist/alerts/Scan', text, AT).alerts.length, 0, text);
  });

  test('the window: strategy, else a topic level that can name one, else Inbox', () => {
    assert.equal(windowFromTopic('velquist/alerts/Breakouts'), 'Breakouts');
    assert.equal(windowFromTopic('velquist/alerts/'), 'Inbox');
    assert.equal(windowFromTopic('velquist/alerts/*'), 'Inbox');
    assert.equal(windowFromTopic('velquist/alerts/' + 'x'.repeat(65)), 'Inbox');
    assert.equal(windowFromTopic('velquist/alerts/' + 'x'.repeat(64)), 'x'.repeat(64));
    assert.equal(windowFromTopic('velquist/alerts/a\u0007b'), 'Inbox');
    const { alerts } = readMessage('velquist/alerts/Topic', '{"symbol":"A","strategy":"a/b"}', AT);
    assert.equal(alerts[0].window, 'Topic', 'a strategy that cannot name a window');
  });

  test('markup in a field stays text, line breaks become blanks, descriptions are cut', () => {
    const { alerts } = readMessage('velquist/alerts/W',
      JSON.stringify({ symbol: '<b>X</b>', description: '<img src=x onerror=alert(1)>\r\nnext' }), AT);
    assert.equal(alerts[0].symbol, '<b>X</b>');
    assert.equal(alerts[0].description, '<img src=x onerror=alert(1)> next');
    assert.equal(cutUtf8('é'.repeat(3000), 4096), 'é'.repeat(2048));
    assert.equal(cutUtf8('aé', 2), 'a', 'never half a character');
  });
});

describe('the alert list', () => {
  const put = (store, topic, symbol, n) =>
    store.addMessage(topic, JSON.stringify({ symbol, n }), AT + n);

  test('newest first, per window, by symbol, together', () => {
    const store = new AlertStore();
    put(store, 'velquist/alerts/A', 'AAPL', 1);
    put(store, 'velquist/alerts/B', 'MSFT', 2);
    put(store, 'velquist/alerts/A', 'NVDA', 3);
    put(store, 'velquist/alerts/B', 'AAPL', 4);
    assert.deepEqual(store.view().map((a) => a.symbol), ['AAPL', 'NVDA', 'MSFT', 'AAPL']);
    assert.deepEqual(store.windowNames(), ['A', 'B']);
    store.setFilters({ window: 'A' });
    assert.deepEqual(store.view().map((a) => a.symbol), ['NVDA', 'AAPL']);
    store.setFilters({ symbol: ' aap ' });
    assert.deepEqual(store.view().map((a) => a.window + a.symbol), ['AAAPL']);
    store.setFilters({ window: '' });
    assert.deepEqual(store.view().map((a) => a.window), ['B', 'A']);
    put(store, 'velquist/alerts/C', 'AAPL', 5);
    assert.equal(store.view()[0].window, 'C', 'a new alert reaches a filtered view');
  });

  test('a message the broker sends again is shown once', () => {
    const store = new AlertStore();
    assert.equal(put(store, 'velquist/alerts/A', 'X', 1).added.length, 1);
    const again = put(store, 'velquist/alerts/A', 'X', 1);
    assert.equal(again.duplicate, true);
    assert.equal(again.added.length, 0);
    assert.equal(put(store, 'velquist/alerts/B', 'X', 1).added.length, 1, 'other topic, other message');
    assert.equal(store.alerts.length, 2);
  });

  test('the oldest go past the limit, with their window counts', () => {
    const store = new AlertStore(3);
    for (let n = 1; n <= 5; ++n) put(store, `velquist/alerts/W${n % 2}`, 'S' + n, n);
    assert.deepEqual(store.view().map((a) => a.symbol), ['S5', 'S4', 'S3']);
    assert.equal(store.windows.get('W1'), 2);
    assert.equal(store.windows.get('W0'), 1);
  });

  test('10,000 alerts: filtering stays well within a frame', () => {
    const store = new AlertStore();
    for (let n = 0; n < 10000; ++n) put(store, `velquist/alerts/W${n % 7}`, 'SYM' + (n % 500), n);
    const start = performance.now();
    store.setFilters({ window: 'W3', symbol: 'SYM4' });
    const view = store.view();
    const elapsed = performance.now() - start;
    assert.ok(view.length > 0 && view.every((a) => a.window === 'W3' && a.symbol.includes('SYM4')));
    assert.ok(elapsed < 50, `filtering took ${elapsed} ms`);
  });
});

describe('rows on screen', () => {
  test('only what shows, with a margin, and the whole height', () => {
    const w = rowWindow({ scrollTop: 7200, viewportHeight: 720, rowHeight: 72, count: 10000, overscan: 5 });
    assert.equal(w.total, 720000);
    assert.equal(w.first, 95);
    assert.equal(w.last, 100 + 11 + 5);
    assert.equal(w.offset, 95 * 72);
    assert.ok(w.last - w.first < 30);
  });

  test('the edges: top, past the end, few rows, none', () => {
    assert.deepEqual(rowWindow({ scrollTop: 0, viewportHeight: 300, rowHeight: 100, count: 2 }),
      { first: 0, last: 2, offset: 0, total: 200 });
    const end = rowWindow({ scrollTop: 1e9, viewportHeight: 300, rowHeight: 100, count: 1000 });
    assert.equal(end.last, 1000);
    assert.ok(end.first <= 1000 - 3 - 5);
    assert.deepEqual(rowWindow({ scrollTop: 0, viewportHeight: 300, rowHeight: 100, count: 0 }),
      { first: 0, last: 0, offset: 0, total: 0 });
  });
});

describe('connection', () => {
  test("reconnect delays as the desk's: doubling to 60 s, from 1 s after a lasting connection", () => {
    const backoff = new Backoff();
    const delays = Array.from({ length: 9 }, () => backoff.failed(0));
    assert.deepEqual(delays, [1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000]);
    assert.equal(backoff.failed(9999), 60000, 'a short connection does not start over');
    assert.equal(backoff.failed(10000), 1000);
    assert.equal(backoff.failed(0), 2000);
  });

  test("the broker's address: the page's own host, none from a file", () => {
    assert.equal(defaultBrokerUrl({ protocol: 'https:', host: 'broker.example.net:8443' }), 'wss://broker.example.net:8443/mqtt');
    assert.equal(defaultBrokerUrl({ protocol: 'http:', host: '10.0.0.2:9001' }), 'ws://10.0.0.2:9001/mqtt');
    assert.equal(defaultBrokerUrl({ protocol: 'file:', host: '' }), '');
    assert.equal(checkBrokerUrl(' wss://b.example:8443 '), 'wss://b.example:8443/');
    assert.throws(() => checkBrokerUrl('https://b.example'), /wss:/);
    assert.throws(() => checkBrokerUrl('b.example'), /not a web address/);
  });

  test("a symbol sent to a desk: the desk's name and list as topic levels, or nowhere", () => {
    assert.equal(sendTopic(' home ', ''), 'velquist/desk/home/link/MAIN LIST');
    assert.equal(sendTopic('home', 'Scan'), 'velquist/desk/home/link/Scan');
    for (const [desk, list] of [['', 'Scan'], ['a/b', 'Scan'], ['home', 'x+'], ['#', ''], ['home', ' / ']])
      assert.equal(sendTopic(desk, list), '', `${desk} ${list}`);
  });

  test('the title counts unseen alerts', () => {
    assert.equal(titleWithUnseen('Alerts', 0), 'Alerts');
    assert.equal(titleWithUnseen('Alerts', 3), '(3) Alerts');
    assert.equal(titleWithUnseen('Alerts', 5000), '(999+) Alerts');
  });
});
