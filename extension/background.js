// winwarden's companion: tells winwarden-host every tab this browser has, and closes the tabs
// it is asked to close. It keeps no rules; winwarden decides.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "net.winwarden.host";
const RESEND_MS = 2000;   // the full list goes at least this often
const FIRST_RETRY_MS = 500;
const LAST_RETRY_MS = 10000;

let port = null;
let retryMs = FIRST_RETRY_MS;
let connectedAt = 0;
let resendTimer = null;
let installType = ""; // "admin" when a policy forced the extension in

function sendHello() {
  port?.postMessage({
    type: "hello",
    browser: family(),
    version: api.runtime.getManifest().version,
    install: installType,
  });
}

function family() {
  if (typeof globalThis.browser !== "undefined" && api.runtime.getBrowserInfo) {
    return "firefox";
  }
  const brands = (navigator.userAgentData?.brands ?? []).map((b) => b.brand);
  const known = [
    ["Google Chrome", "chrome"],
    ["Microsoft Edge", "edge"],
    ["Brave", "brave"],
    ["Vivaldi", "vivaldi"],
    ["Opera", "opera"],
  ];
  for (const [brand, name] of known) {
    if (brands.includes(brand)) {
      return name;
    }
  }
  return "chromium";
}

async function sendTabs() {
  if (!port) {
    return;
  }
  let tabs;
  try {
    tabs = await api.tabs.query({});
  } catch (e) {
    return; // the browser is shutting down
  }
  const list = tabs
    .filter((t) => Number.isInteger(t.id) && t.id >= 0)
    .map((t) => ({
      id: t.id,
      title: t.title ?? "",
      url: t.url ?? t.pendingUrl ?? "",
      incognito: !!t.incognito,
    }));
  try {
    port?.postMessage({ type: "tabs", tabs: list });
  } catch (e) {
    // The port closed meanwhile; onDisconnect reconnects.
  }
}

function onHostMessage(message) {
  if (message?.type !== "close" || !Array.isArray(message.tabs)) {
    return;
  }
  const ids = message.tabs.filter((id) => Number.isInteger(id));
  if (ids.length > 0) {
    // A tab that is already gone is no failure.
    api.tabs.remove(ids).catch(() => {});
  }
}

function connect() {
  try {
    port = api.runtime.connectNative(HOST);
  } catch (e) {
    port = null;
    scheduleReconnect();
    return;
  }
  connectedAt = Date.now();
  port.onMessage.addListener(onHostMessage);
  port.onDisconnect.addListener(() => {
    port = null;
    clearInterval(resendTimer);
    resendTimer = null;
    // A host that ran for a while gets a quick retry; one that keeps failing, a slower one.
    if (Date.now() - connectedAt > LAST_RETRY_MS) {
      retryMs = FIRST_RETRY_MS;
    }
    scheduleReconnect();
  });
  sendHello();
  sendTabs();
  resendTimer = setInterval(sendTabs, RESEND_MS);
}

function scheduleReconnect() {
  setTimeout(connect, retryMs);
  retryMs = Math.min(retryMs * 2, LAST_RETRY_MS);
}

// getSelf needs no permission; its answer comes after the first hello, so it sends another.
api.management
  ?.getSelf()
  .then((self) => {
    installType = self.installType ?? "";
    sendHello();
  })
  .catch(() => {});
api.tabs.onCreated.addListener(sendTabs);
api.tabs.onUpdated.addListener(sendTabs);
api.tabs.onRemoved.addListener(sendTabs);
api.tabs.onReplaced.addListener(sendTabs);
connect();
