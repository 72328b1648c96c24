// The page's logic without the page: reading a broker message into alerts the way the desk
// reads it, the alert list with its filters, the window of rows on screen, and the reconnect
// delays. Nothing here touches the DOM or the network, so node's test runner checks it all.

export const TOPIC_ROOT = 'velquist/alerts';
export const TOPIC_FILTER = TOPIC_ROOT + '/#';
export const DEFAULT_WINDOW = 'Inbox';
export const MAX_WINDOW_CHARS = 64;
export const MAX_DESCRIPTION_BYTES = 4096;
// Past this many alerts the oldest go: a page left open for weeks should not grow for ever.
export const MAX_ALERTS = 50000;

const FIELD_NAMES = {
  symbol: ['symbol', 'ticker'],
  price: ['price', 'close', 'last'],
  description: ['description', 'message', 'text', 'comment'],
  strategy: ['strategy', 'alert_name', 'name'],
};

// Characters a window's name may not hold: control characters and those that name files or
// wildcards elsewhere.
const BAD_NAME = /[\u0000-\u001f\u007f-\u009f\\/:*?"<>|+#]/;

export function validWindowName(name) {
  if (typeof name !== 'string') return '';
  const trimmed = name.trim();
  if (trimmed === '' || trimmed === '*') return '';
  if ([...trimmed].length > MAX_WINDOW_CHARS || BAD_NAME.test(trimmed)) return '';
  return trimmed;
}

// The window a message's topic gives alerts that name none: the topic's last level when it can
// be a window's name, else the default window.
export function windowFromTopic(topic) {
  const levels = String(topic).split('/');
  return validWindowName(levels[levels.length - 1]) || DEFAULT_WINDOW;
}

function firstField(object, names) {
  for (const name of names) {
    if (Object.prototype.hasOwnProperty.call(object, name) && object[name] !== null &&
        object[name] !== undefined)
      return object[name];
  }
  return undefined;
}

// At most maxBytes of UTF-8, cut on a character's boundary.
export function cutUtf8(text, maxBytes) {
  const encoder = new TextEncoder();
  if (encoder.encode(text).length <= maxBytes) return text;
  let bytes = 0;
  let out = '';
  for (const ch of text) {
    const size = encoder.encode(ch).length;
    if (bytes + size > maxBytes) break;
    bytes += size;
    out += ch;
  }
  return out;
}

function readPrice(value) {
  if (typeof value === 'number') return Number.isFinite(value) ? value : undefined;
  if (typeof value === 'string' && value.trim() !== '') {
    const number = Number(value.trim());
    if (Number.isFinite(number)) return number;
    return null; // there, and not a number: not an alert
  }
  return undefined;
}

function readTime(value, fallback) {
  if (typeof value === 'string') {
    const ms = Date.parse(value);
    if (Number.isFinite(ms)) return ms;
  }
  return fallback;
}

function alertFromObject(object, topicWindow, receivedAt) {
  if (typeof object !== 'object' || object === null || Array.isArray(object))
    return { error: 'not a JSON object' };
  const symbolValue = firstField(object, FIELD_NAMES.symbol);
  if (symbolValue === undefined) return { error: '"symbol" is missing' };
  const symbol = String(symbolValue).trim();
  if (symbol === '') return { error: '"symbol" is empty' };
  const price = readPrice(firstField(object, FIELD_NAMES.price));
  if (price === null) return { error: '"price" is not a number' };
  const descriptionValue = firstField(object, FIELD_NAMES.description);
  const description = descriptionValue === undefined ? '' : String(descriptionValue);
  const strategy = firstField(object, FIELD_NAMES.strategy);
  return {
    alert: {
      symbol,
      price: price === undefined || price === 0 ? undefined : price,
      description: cutUtf8(description.replace(/[\r\n]+/g, ' '), MAX_DESCRIPTION_BYTES),
      window: validWindowName(typeof strategy === 'string' ? strategy : '') || topicWindow,
      time: readTime(object.time, receivedAt),
    },
  };
}

// A first word written as a symbol: capitals, digits and . - _ / ! ^, after an optional
// exchange; a comma or colon right after it means it is not one.
const TEXT_SYMBOL = /^(?:[A-Za-z0-9_]+:)?([A-Z0-9.\-_/!^]+)(?=\s|$)/;

function alertFromText(text, topicWindow, receivedAt) {
  const oneLine = text.replace(/[\r\n]+/g, ' ').trim();
  const match = TEXT_SYMBOL.exec(oneLine);
  if (!match || !/[A-Z0-9]/.test(match[1])) return { error: 'no symbol in the text' };
  return {
    alert: {
      symbol: match[1],
      price: undefined,
      description: cutUtf8(oneLine, MAX_DESCRIPTION_BYTES),
      window: topicWindow,
      time: receivedAt,
    },
  };
}

// Reads one message's payload (a string or bytes) into { alerts, errors }: a JSON object, an
// array of objects, JSON lines, or plain text, as the desk reads it.
export function readMessage(topic, payload, receivedAt = Date.now()) {
  let text = typeof payload === 'string' ? payload : new TextDecoder().decode(payload);
  if (text.charCodeAt(0) === 0xfeff) text = text.slice(1);
  const topicWindow = windowFromTopic(topic);
  const alerts = [];
  const errors = [];
  const take = (result) => {
    if (result.alert) alerts.push(result.alert);
    else errors.push(result.error);
  };
  const trimmed = text.trim();
  if (trimmed === '') return { alerts, errors: ['empty message'] };
  if (trimmed.startsWith('{') || trimmed.startsWith('[')) {
    let parsed;
    let whole = true;
    try {
      parsed = JSON.parse(trimmed);
    } catch {
      whole = false;
    }
    if (whole) {
      for (const item of Array.isArray(parsed) ? parsed : [parsed])
        take(alertFromObject(item, topicWindow, receivedAt));
      return { alerts, errors };
    }
    if (trimmed.startsWith('{')) {
      for (const line of trimmed.split('\n')) {
        if (line.trim() === '') continue;
        try {
          take(alertFromObject(JSON.parse(line), topicWindow, receivedAt));
        } catch {
          errors.push('bad JSON');
        }
      }
      return { alerts, errors };
    }
    return { alerts, errors: ['bad JSON'] };
  }
  take(alertFromText(text, topicWindow, receivedAt));
  return { alerts, errors };
}

// The alerts received, newest first per view, with their windows, filters and unseen count.
export class AlertStore {
  constructor(maxAlerts = MAX_ALERTS) {
    this.maxAlerts = maxAlerts;
    this.alerts = []; // oldest first
    this.windows = new Map(); // name -> count
    this.seenKeys = new Set();
    this.keyOrder = [];
    this.nextId = 1;
    this.windowFilter = ''; // '' is every window
    this.symbolFilter = '';
    this.viewCache = null;
  }

  // Adds a message's alerts; a message the broker sends again (same topic and payload: the
  // desks' payloads carry the time to the millisecond) is not shown twice. Returns what is new.
  addMessage(topic, payload, receivedAt = Date.now()) {
    const key = topic + '\u0000' + (typeof payload === 'string' ? payload : new TextDecoder().decode(payload));
    if (this.seenKeys.has(key)) return { added: [], errors: [], duplicate: true };
    this.seenKeys.add(key);
    this.keyOrder.push(key);
    const { alerts, errors } = readMessage(topic, payload, receivedAt);
    const added = [];
    for (const alert of alerts) {
      const stored = { ...alert, id: this.nextId++, topic };
      this.alerts.push(stored);
      this.windows.set(stored.window, (this.windows.get(stored.window) || 0) + 1);
      added.push(stored);
    }
    this.trim();
    if (added.length) this.viewCache = null;
    return { added, errors, duplicate: false };
  }

  trim() {
    const excess = this.alerts.length - this.maxAlerts;
    if (excess > 0) {
      for (const gone of this.alerts.splice(0, excess)) {
        const left = this.windows.get(gone.window) - 1;
        if (left > 0) this.windows.set(gone.window, left);
        else this.windows.delete(gone.window);
      }
    }
    while (this.keyOrder.length > this.maxAlerts * 2) this.seenKeys.delete(this.keyOrder.shift());
  }

  windowNames() {
    return [...this.windows.keys()].sort((a, b) => a.localeCompare(b));
  }

  setFilters({ window, symbol } = {}) {
    if (window !== undefined) this.windowFilter = window;
    if (symbol !== undefined) this.symbolFilter = symbol.trim().toUpperCase();
    this.viewCache = null;
  }

  matches(alert) {
    if (this.windowFilter && alert.window !== this.windowFilter) return false;
    if (this.symbolFilter && !alert.symbol.toUpperCase().includes(this.symbolFilter)) return false;
    return true;
  }

  // The alerts the filters let through, newest first.
  view() {
    if (!this.viewCache) {
      const out = [];
      for (let i = this.alerts.length - 1; i >= 0; --i)
        if (this.matches(this.alerts[i])) out.push(this.alerts[i]);
      this.viewCache = out;
    }
    return this.viewCache;
  }
}

// Which rows of a list of fixed-height rows to build for the part on screen, with a few more
// either side so that scrolling does not show blanks before the next frame.
export function rowWindow({ scrollTop, viewportHeight, rowHeight, count, overscan = 5 }) {
  if (count <= 0 || rowHeight <= 0) return { first: 0, last: 0, offset: 0, total: 0 };
  const total = count * rowHeight;
  const top = Math.min(Math.max(0, scrollTop), Math.max(0, total - viewportHeight));
  const first = Math.max(0, Math.floor(top / rowHeight) - overscan);
  const visible = Math.ceil(Math.max(0, viewportHeight) / rowHeight) + 1;
  const last = Math.min(count, Math.floor(top / rowHeight) + visible + overscan);
  return { first, last, offset: first * rowHeight, total };
}

// The desk's reconnect delays: 1 s after a failure, doubling up to 60 s; a connection that
// lasted 10 s starts over at 1 s.
export const BACKOFF_FIRST_MS = 1000;
export const BACKOFF_MAX_MS = 60000;
export const BACKOFF_RESET_AFTER_MS = 10000;

export class Backoff {
  constructor() {
    this.next = BACKOFF_FIRST_MS;
  }
  // The delay before the next attempt, after a connection (or attempt) that lasted lastedMs.
  failed(lastedMs = 0) {
    if (lastedMs >= BACKOFF_RESET_AFTER_MS) this.next = BACKOFF_FIRST_MS;
    const delay = this.next;
    this.next = Math.min(this.next * 2, BACKOFF_MAX_MS);
    return delay;
  }
}

// The tab's title: the unseen count first, where a tab strip still shows it.
export function titleWithUnseen(base, unseen) {
  return unseen > 0 ? `(${unseen > 999 ? '999+' : unseen}) ${base}` : base;
}

// The broker's WebSockets address for a page at location: the page's own host and port, wss
// under https and ws under http; none for a page opened from a file. mosquitto takes any path;
// /mqtt lets a web server in front pass the WebSockets on to it.
export function defaultBrokerUrl(location) {
  if (location.protocol === 'https:') return `wss://${location.host}/mqtt`;
  if (location.protocol === 'http:') return `ws://${location.host}/mqtt`;
  return '';
}

// Checks an address the user typed; returns it whole or throws with what is wrong.
export function checkBrokerUrl(text) {
  let url;
  try {
    url = new URL(text.trim());
  } catch {
    throw new Error('the broker address is not a web address (wss://host:port/)');
  }
  if (url.protocol !== 'wss:' && url.protocol !== 'ws:')
    throw new Error('the broker address must start with wss:// (or ws:// without TLS)');
  return url.toString();
}

// A client id of this device's: the broker keeps the page's session under it.
export function makeClientId(randomBytes) {
  return 'velquist-web-' + [...randomBytes.slice(0, 6)].map((b) => b.toString(16).padStart(2, '0')).join('');
}

// Formats the price without inventing digits: as it came, or nothing.
export function formatPrice(price) {
  return price === undefined ? '' : String(price);
}

// The time as hours, minutes and seconds, with the date when it is not today's.
export function formatTime(ms, now = Date.now()) {
  const date = new Date(ms);
  const today = new Date(now);
  const pad = (n) => String(n).padStart(2, '0');
  const clock = `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}`;
  if (date.toDateString() === today.toDateString()) return clock;
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())} ${clock}`;
}

// Where a symbol sent to a desk goes: the desk hands what arrives there to the programs linked
// to that list. Empty when the names cannot be topic levels.
export const DEFAULT_LINK_LIST = 'MAIN LIST';
export function sendTopic(desk, list) {
  const level = (name) => {
    const trimmed = String(name || '').trim();
    return trimmed && !/[/+#\u0000]/.test(trimmed) ? trimmed : '';
  };
  const deskLevel = level(desk);
  const listLevel = level(list || DEFAULT_LINK_LIST);
  return deskLevel && listLevel ? `velquist/desk/${deskLevel}/link/${listLevel}` : '';
}
