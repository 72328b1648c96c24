// The page: signs in to the broker over MQTT-over-WebSockets, keeps a persistent session under
// a client id of this device's, and shows the desk's alert stream. Everything that came from
// outside is set as text, never as markup.
import mqtt from 'mqtt';
import {
  AlertStore,
  Backoff,
  TOPIC_FILTER,
  checkBrokerUrl,
  defaultBrokerUrl,
  formatPrice,
  formatTime,
  makeClientId,
  rowWindow,
  sendTopic,
  titleWithUnseen,
} from './logic.js';

const KEEP = {
  clientId: 'velquist.clientId',
  login: 'velquist.login',
  muted: 'velquist.muted',
  address: 'velquist.address',
  send: 'velquist.send',
};
// How long a symbol sent to a desk waits at the broker for the desk, at most.
const SEND_EXPIRY_S = 60;
// The broker keeps the page's session this long after it goes (as the desk's).
const SESSION_EXPIRY_S = 7 * 24 * 3600;
const BASE_TITLE = document.title;

const $ = (id) => document.getElementById(id);
const ui = {
  status: $('status'),
  signOut: $('sign-out'),
  form: $('sign-in'),
  url: $('broker-url'),
  user: $('user-name'),
  password: $('password'),
  remember: $('remember'),
  error: $('sign-in-error'),
  alerts: $('alerts'),
  windows: $('windows'),
  symbol: $('symbol-filter'),
  notify: $('notify'),
  mute: $('mute'),
  count: $('count'),
  list: $('list'),
  spacer: $('spacer'),
  announcer: $('announcer'),
  sendEnabled: $('send-enabled'),
  sendDesk: $('send-desk'),
  sendList: $('send-list'),
};

function storage() {
  try {
    return window.localStorage;
  } catch {
    return null; // storage off (some file: pages, private modes): nothing is kept
  }
}
function readKept(key, fallback) {
  try {
    const text = storage()?.getItem(key);
    return text === null || text === undefined ? fallback : JSON.parse(text);
  } catch {
    return fallback;
  }
}
function keep(key, value) {
  try {
    if (value === undefined) storage()?.removeItem(key);
    else storage()?.setItem(key, JSON.stringify(value));
  } catch {
    // Full or refused storage: the page works on without it.
  }
}

function deviceClientId() {
  let id = readKept(KEEP.clientId, '');
  if (typeof id !== 'string' || !/^velquist-web-[0-9a-f]{12}$/.test(id)) {
    id = makeClientId(crypto.getRandomValues(new Uint8Array(6)));
    keep(KEEP.clientId, id);
  }
  return id;
}

const store = new AlertStore();
const muted = new Set(readKept(KEEP.muted, []));
let unseen = 0;
let client = null;
let login = null;
let retryTimer = 0;
let connectedAt = 0;
let attemptAt = 0;
const backoff = new Backoff();

// --- Connection -------------------------------------------------------------------------------

function setStatus(text, state) {
  ui.status.textContent = text;
  ui.status.dataset.state = state;
}

function hostOf(url) {
  try {
    return new URL(url).host;
  } catch {
    return url;
  }
}

function describeError(error) {
  const code = error && error.code;
  // Refusals by the broker (MQTT 5 reason codes, and MQTT 3's return codes).
  if (code === 134 || code === 4) return { text: 'bad user name or password', fatal: true };
  if (code === 135 || code === 5) return { text: 'not authorized: bad user name or password', fatal: true };
  if (code === 133 || code === 2) return { text: 'the broker refused this client id', fatal: false };
  return { text: (error && error.message) || 'the connection failed', fatal: false };
}

function connect() {
  clearTimeout(retryTimer);
  retryTimer = 0;
  dropClient();
  attemptAt = Date.now();
  connectedAt = 0;
  setStatus(`Connecting to ${hostOf(login.url)}…`, 'connecting');
  const c = mqtt.connect(login.url, {
    clientId: deviceClientId(),
    username: login.user,
    password: login.password,
    protocolVersion: 5,
    clean: false,
    properties: { sessionExpiryInterval: SESSION_EXPIRY_S },
    keepalive: 60,
    reconnectPeriod: 0, // reconnecting is ours, with the desk's delays
    connectTimeout: 20000,
    resubscribe: false,
    // Timers of the page's own: MQTT.js's default runs them in a worker made from a blob,
    // which the page's Content Security Policy forbids.
    timerVariant: 'native',
  });
  client = c;
  let failure = '';
  let fatal = false;
  c.on('connect', () => {
    connectedAt = Date.now();
    setStatus(`Connected to ${hostOf(login.url)}`, 'connected');
    showSignedIn();
    // The session may be new (first time, or expired): subscribe each time; the broker keeps
    // one subscription per filter.
    c.subscribe(TOPIC_FILTER, { qos: 1, rh: 2, rap: false }, (error, granted) => {
      if (client !== c) return;
      if (error || !granted || granted.some((g) => g.qos > 2)) {
        setStatus(`Connected to ${hostOf(login.url)}, but the broker refused the subscription to ${TOPIC_FILTER}`, 'error');
      }
    });
  });
  c.on('message', (topic, payload) => {
    if (client === c) received(topic, payload);
  });
  // The broker closing the session's connection: another tab or device with this client id
  // took it over. Taking it back at once would fight over it for ever: this page waits.
  c.on('disconnect', (packet) => {
    if (packet && packet.reasonCode === 142) {
      failure = 'this page was opened in another tab or window, which now receives the alerts; sign in here to take them back';
      fatal = true;
    }
  });
  c.on('error', (error) => {
    const described = describeError(error);
    failure = described.text;
    fatal = fatal || described.fatal;
  });
  c.on('close', () => {
    if (client !== c) return;
    dropClient();
    const lasted = connectedAt ? Date.now() - connectedAt : Date.now() - attemptAt;
    const why = failure || (connectedAt ? 'the connection was closed' : `no answer from ${hostOf(login.url)}`);
    if (fatal) {
      giveUpSession();
      setStatus(`Not connected: ${why}`, 'error');
      showSignIn(why);
      return;
    }
    const delay = backoff.failed(connectedAt ? lasted : 0);
    setStatus(`Not connected: ${why}. Trying again in ${Math.round(delay / 1000)} s`, 'disconnected');
    retryTimer = setTimeout(connect, delay);
  });
}

function dropClient() {
  if (!client) return;
  const c = client;
  client = null;
  c.removeAllListeners('close');
  c.on('error', () => {});
  c.end(true);
}

// --- Alerts -----------------------------------------------------------------------------------

let renderQueued = false;
let pendingAnnounce = [];
let lastSoundAt = 0;

function received(topic, payload) {
  const { added } = store.addMessage(topic, payload);
  if (!added.length) return;
  const audible = added.filter((a) => !muted.has(a.window));
  if (document.visibilityState !== 'visible') {
    unseen += added.length;
    document.title = titleWithUnseen(BASE_TITLE, unseen);
  }
  if (audible.length) {
    // A burst (the catch-up after a reconnection brings thousands) is one chime and one
    // notification, gathered by a timer: frames do not run in a hidden tab.
    pendingAudible.push(...audible);
    if (!audibleTimer) audibleTimer = setTimeout(sound, 250);
  }
  pendingAnnounce.push(...added);
  queueRender();
}

let pendingAudible = [];
let audibleTimer = 0;
function sound() {
  const alerts = pendingAudible;
  pendingAudible = [];
  audibleTimer = 0;
  chime();
  notify(alerts);
}

function queueRender() {
  if (renderQueued) return;
  renderQueued = true;
  requestAnimationFrame(() => {
    renderQueued = false;
    renderWindows();
    renderRows();
    announce();
  });
}

// One polite announcement per frame: a burst (a catch-up after a reconnection) is one sentence,
// not hundreds.
function announce() {
  const items = pendingAnnounce;
  pendingAnnounce = [];
  if (!items.length) return;
  if (items.length === 1) {
    const a = items[0];
    ui.announcer.textContent = `New alert in ${a.window}: ${a.symbol} ${formatPrice(a.price)} ${a.description}`;
  } else {
    ui.announcer.textContent = `${items.length} new alerts`;
  }
}

let audio = null;
function prepareSound() {
  if (audio) return;
  try {
    audio = new AudioContext();
  } catch {
    audio = null;
  }
}
function chime() {
  const now = Date.now();
  if (!audio || now - lastSoundAt < 1000) return; // one chime for a burst
  lastSoundAt = now;
  if (audio.state === 'suspended') audio.resume().catch(() => {});
  const t = audio.currentTime;
  const osc = audio.createOscillator();
  const gain = audio.createGain();
  osc.type = 'sine';
  osc.frequency.setValueAtTime(880, t);
  osc.frequency.setValueAtTime(1320, t + 0.09);
  gain.gain.setValueAtTime(0.0001, t);
  gain.gain.exponentialRampToValueAtTime(0.25, t + 0.02);
  gain.gain.exponentialRampToValueAtTime(0.0001, t + 0.3);
  osc.connect(gain).connect(audio.destination);
  osc.start(t);
  osc.stop(t + 0.32);
}

function notificationsAllowed() {
  return typeof Notification !== 'undefined' && Notification.permission === 'granted';
}
function notify(alerts) {
  if (!notificationsAllowed()) return;
  try {
    if (alerts.length === 1) {
      const a = alerts[0];
      new Notification(`${a.symbol} ${formatPrice(a.price)}`.trim(), {
        body: `${a.window}: ${a.description}`,
        tag: `velquist-${a.window}`,
      });
    } else {
      new Notification(`${alerts.length} new alerts`, {
        body: [...new Set(alerts.map((a) => a.window))].join(', '),
        tag: 'velquist-burst',
      });
    }
  } catch {
    // Some mobile browsers only notify from a service worker: the sound and title remain.
  }
}

// --- Rendering --------------------------------------------------------------------------------

function renderWindows() {
  const names = ['', ...store.windowNames()];
  const existing = new Map([...ui.windows.children].map((li) => [li.dataset.window, li]));
  const same = names.length === ui.windows.children.length &&
    names.every((name, i) => ui.windows.children[i].dataset.window === name);
  // Rebuilt only when windows come, so a focused button keeps its focus.
  if (!same) ui.windows.textContent = '';
  for (const name of names) {
    let li = existing.get(name);
    if (!li) {
      li = document.createElement('li');
      li.dataset.window = name;
      const button = document.createElement('button');
      button.type = 'button';
      button.addEventListener('click', () => selectWindow(name));
      li.appendChild(button);
    }
    const button = li.firstChild;
    const count = name ? store.windows.get(name) || 0 : store.alerts.length;
    button.textContent = `${name || 'All windows'} (${count})${muted.has(name) ? ' 🔇' : ''}`;
    button.setAttribute('aria-pressed', String(store.windowFilter === name));
    if (!same) ui.windows.appendChild(li);
  }
  ui.mute.hidden = !store.windowFilter;
  const isMuted = muted.has(store.windowFilter);
  ui.mute.setAttribute('aria-pressed', String(isMuted));
  ui.mute.textContent = isMuted ? 'Unmute this window' : 'Mute this window';
}

function selectWindow(name) {
  store.setFilters({ window: name });
  ui.list.scrollTop = 0;
  focusIndex = 0;
  renderWindows();
  renderRows();
}

let rowHeight = 0;
let focusIndex = 0;
const rowPool = [];

function measureRowHeight() {
  const probe = makeRow();
  probe.style.visibility = 'hidden';
  ui.list.appendChild(probe);
  rowHeight = probe.getBoundingClientRect().height || 72;
  probe.remove();
}

function makeRow() {
  const row = document.createElement('div');
  row.className = 'row';
  row.setAttribute('role', 'listitem');
  row.tabIndex = -1;
  const top = document.createElement('div');
  top.className = 'row-top';
  for (const cls of ['symbol', 'price', 'window', 'time']) {
    const span = document.createElement('span');
    span.className = cls;
    top.appendChild(span);
  }
  // With sending to a desk on, the symbol is a button that sends it.
  const send = document.createElement('button');
  send.type = 'button';
  send.className = 'symbol send';
  send.hidden = true;
  send.addEventListener('click', () => sendToDesk(send.dataset.symbol));
  top.insertBefore(send, top.firstChild.nextSibling);
  const description = document.createElement('div');
  description.className = 'description';
  row.append(top, description);
  return row;
}

function fillRow(row, alert) {
  const [symbol, send, price, win, time] = row.firstChild.children;
  symbol.textContent = alert.symbol;
  send.textContent = alert.symbol;
  send.dataset.symbol = alert.symbol;
  send.setAttribute('aria-label', `Send ${alert.symbol} to the desk`);
  const sending = Boolean(sendSettings.enabled && currentSendTopic());
  send.hidden = !sending;
  symbol.hidden = sending;
  price.textContent = formatPrice(alert.price);
  win.textContent = alert.window;
  time.textContent = formatTime(alert.time);
  time.title = new Date(alert.time).toISOString();
  row.lastChild.textContent = alert.description;
  row.title = alert.description;
  row.dataset.id = String(alert.id);
}

function setIfChanged(row, name, value) {
  if (row.getAttribute(name) !== value) row.setAttribute(name, value);
}

// What a row's text depends on besides its alert: the send setting, and today's date (a time
// shows its date once it is not today's).
let fillGeneration = 0;

// A row stays with its alert while the alert is on screen: a new alert at the top, or a scroll,
// fills only the rows that come into view (new text costs a layout of its own; moving a filled
// row costs little), and the others only move. Rows stay in the list in on-screen order.
function renderRows() {
  if (ui.alerts.hidden) return;
  if (!rowHeight) measureRowHeight();
  const view = store.view();
  const w = rowWindow({
    scrollTop: ui.list.scrollTop,
    viewportHeight: ui.list.clientHeight,
    rowHeight,
    count: view.length,
  });
  ui.spacer.style.height = `${w.total}px`;
  const fillKey = `${fillGeneration} ${new Date().toDateString()}`;
  const wanted = view.slice(w.first, w.last);
  const wantedIds = new Set(wanted.map((a) => a.id));
  const kept = new Map();
  const free = [];
  for (const row of rowPool) {
    if (row.alertId !== undefined && row.fillKey === fillKey && wantedIds.has(row.alertId) && !kept.has(row.alertId))
      kept.set(row.alertId, row);
    else free.push(row);
  }
  const ordered = wanted.map((alert) => {
    let row = kept.get(alert.id);
    if (row) return { row, fresh: false };
    row = free.pop();
    if (!row) {
      row = makeRow();
      rowPool.push(row);
    }
    fillRow(row, alert);
    row.alertId = alert.id;
    row.fillKey = fillKey;
    return { row, fresh: true };
  });
  for (const row of free) {
    row.hidden = true;
    row.alertId = undefined;
  }
  // Kept rows are already in order among themselves: each fresh row goes just before the row
  // that follows it on screen.
  let anchor = null;
  for (let i = ordered.length - 1; i >= 0; --i) {
    const { row, fresh } = ordered[i];
    if ((fresh || !row.parentNode) && (row.parentNode !== ui.list || row.nextSibling !== anchor))
      ui.list.insertBefore(row, anchor);
    anchor = row;
    const index = w.first + i;
    const transform = `translateY(${index * rowHeight}px)`;
    if (row.style.transform !== transform) row.style.transform = transform;
    setIfChanged(row, 'data-index', String(index));
    setIfChanged(row, 'aria-posinset', String(index + 1));
    setIfChanged(row, 'aria-setsize', String(view.length));
    row.hidden = false;
  }
  const shown = view.length === store.alerts.length ? `${view.length} alerts` : `${view.length} of ${store.alerts.length} alerts`;
  ui.count.textContent = store.alerts.length ? shown : 'No alerts yet. New ones appear here.';
}

// Up, Down, Home, End, Page Up and Page Down move through the alerts; the row is focused so a
// screen reader reads it.
function onListKey(event) {
  const count = store.view().length;
  if (!count) return;
  const page = Math.max(1, Math.floor(ui.list.clientHeight / rowHeight) - 1);
  const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
  let next;
  if (event.key in moves) next = focusIndex + moves[event.key];
  else if (event.key === 'Home') next = 0;
  else if (event.key === 'End') next = count - 1;
  else return;
  event.preventDefault();
  focusIndex = Math.min(count - 1, Math.max(0, next));
  const top = focusIndex * rowHeight;
  if (top < ui.list.scrollTop) ui.list.scrollTop = top;
  else if (top + rowHeight > ui.list.scrollTop + ui.list.clientHeight)
    ui.list.scrollTop = top + rowHeight - ui.list.clientHeight;
  renderRows();
  const row = rowPool.find((r) => !r.hidden && r.dataset.index === String(focusIndex));
  row?.focus({ preventScroll: true });
}

// --- Sending a symbol to a desk ---------------------------------------------------------------

const sendSettings = { enabled: false, desk: '', list: '', ...readKept(KEEP.send, {}) };
function currentSendTopic() {
  return sendTopic(sendSettings.desk, sendSettings.list);
}
function sendSettingsChanged() {
  sendSettings.enabled = ui.sendEnabled.checked;
  sendSettings.desk = ui.sendDesk.value;
  sendSettings.list = ui.sendList.value;
  keep(KEEP.send, sendSettings);
  ++fillGeneration;
  renderRows();
}
ui.sendEnabled.checked = Boolean(sendSettings.enabled);
ui.sendDesk.value = sendSettings.desk || '';
ui.sendList.value = sendSettings.list || '';
for (const input of [ui.sendEnabled, ui.sendDesk, ui.sendList])
  input.addEventListener('change', sendSettingsChanged);

function sendToDesk(symbol) {
  const topic = currentSendTopic();
  if (!topic || !symbol) return;
  if (!client || !client.connected) {
    ui.announcer.textContent = `${symbol} was not sent: not connected`;
    return;
  }
  // A symbol is for now: one the desk does not get within a minute (it is off) the broker drops,
  // rather than hand it over hours later.
  const options = { qos: 1, retain: false, properties: { messageExpiryInterval: SEND_EXPIRY_S } };
  client.publish(topic, JSON.stringify({ symbol }), options, (error, packet) => {
    // MQTT 5 brokers answer a publish they refuse (the ACL) with a reason code of 128 or more.
    const refused = error || (packet && packet.reasonCode >= 128);
    ui.announcer.textContent = refused
      ? `${symbol} was not sent: the broker refused it (may this user publish to ${topic}?)`
      : `Sent ${symbol} to ${sendSettings.desk.trim()}`;
  });
}

// --- Sign-in ----------------------------------------------------------------------------------

function showSignIn(error) {
  ui.form.hidden = false;
  ui.alerts.hidden = true;
  ui.signOut.hidden = true;
  ui.error.textContent = error || '';
}

function showSignedIn() {
  if (!ui.alerts.hidden) return;
  ui.form.hidden = true;
  ui.alerts.hidden = false;
  ui.signOut.hidden = false;
  renderWindows();
  renderRows();
}

// Tabs of one browser share the client id, and so the broker's session: two connected at once
// would take it from each other for ever. The page signed in last holds the session (a lock
// of the browser's); the one it took it from stops and says so.
const SESSION_LOCK = 'velquist-session';
let releaseSession = null;
function holdSession() {
  if (!navigator.locks || releaseSession) return;
  navigator.locks
    .request(SESSION_LOCK, { steal: true }, () => new Promise((release) => { releaseSession = release; }))
    .catch(() => {
      // Taken by another tab.
      releaseSession = null;
      if (!login) return;
      clearTimeout(retryTimer);
      retryTimer = 0;
      dropClient();
      const why = 'this page was opened in another tab or window, which now receives the alerts; sign in here to take them back';
      setStatus(`Not connected: ${why}`, 'error');
      showSignIn(why);
    });
}
function giveUpSession() {
  releaseSession?.();
  releaseSession = null;
}

function signIn(url, user, password, remember) {
  login = { url: checkBrokerUrl(url), user, password };
  keep(KEEP.address, login.url);
  keep(KEEP.login, remember ? login : undefined);
  backoff.next = 1000;
  holdSession();
  connect();
}

ui.form.addEventListener('submit', (event) => {
  event.preventDefault();
  prepareSound(); // a user's gesture lets the page play sound from now on
  try {
    signIn(ui.url.value, ui.user.value, ui.password.value, ui.remember.checked);
    ui.error.textContent = '';
  } catch (error) {
    ui.error.textContent = error.message;
  }
});

ui.signOut.addEventListener('click', () => {
  clearTimeout(retryTimer);
  dropClient();
  keep(KEEP.login, undefined);
  login = null;
  giveUpSession();
  ui.password.value = '';
  setStatus('Signed out', 'disconnected');
  showSignIn('');
});

ui.symbol.addEventListener('input', () => {
  store.setFilters({ symbol: ui.symbol.value });
  ui.list.scrollTop = 0;
  focusIndex = 0;
  renderRows();
});

ui.mute.addEventListener('click', () => {
  const name = store.windowFilter;
  if (!name) return;
  if (muted.has(name)) muted.delete(name);
  else muted.add(name);
  keep(KEEP.muted, [...muted]);
  renderWindows();
});

ui.notify.addEventListener('click', async () => {
  prepareSound();
  if (typeof Notification === 'undefined') {
    ui.notify.textContent = 'Notifications are not available here';
    return;
  }
  const answer = await Notification.requestPermission();
  ui.notify.hidden = answer === 'granted';
  if (answer === 'denied') ui.notify.textContent = 'Notifications are blocked for this page';
});

ui.list.addEventListener('scroll', () => renderRows(), { passive: true });
ui.list.addEventListener('keydown', onListKey);
window.addEventListener('resize', () => {
  rowHeight = 0;
  renderRows();
});
// A phone that froze the tab, or lost its network, waits no longer than it must: the next
// attempt comes as soon as the page is back or the network is.
function retryNow() {
  if (login && retryTimer) connect();
}
document.addEventListener('visibilitychange', () => {
  if (document.visibilityState === 'visible') {
    unseen = 0;
    document.title = BASE_TITLE;
    retryNow();
  }
});
window.addEventListener('online', retryNow);
document.addEventListener('pointerdown', prepareSound, { once: true });

// --- Start ------------------------------------------------------------------------------------

ui.notify.hidden = notificationsAllowed();
ui.url.value = readKept(KEEP.address, '') || defaultBrokerUrl(window.location);
const remembered = readKept(KEEP.login, null);
if (remembered && remembered.url && remembered.user) {
  ui.url.value = remembered.url;
  ui.user.value = remembered.user;
  ui.remember.checked = true;
  try {
    signIn(remembered.url, remembered.user, remembered.password || '', true);
  } catch (error) {
    showSignIn(error.message);
  }
} else {
  showSignIn('');
}
