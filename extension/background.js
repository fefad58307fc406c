// winwarden's companion: tells winwarden-host every tab this browser has, closes the tabs it is
// asked to close, refuses the sites winwarden blocks before a request for them leaves the
// browser, and shows winwarden's notices as the browser's notifications. It decides nothing
// itself: the rules are winwarden's. Where the administrator's policy asks it to fail closed,
// it refuses every web page while no guard answers.
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

// The tabs as the browser's events have told them, so that a change goes out at once without
// asking the browser for every tab again; the full query every RESEND_MS mends what an event
// may have missed (a service worker that was asleep, a tab moved).
let tabs = new Map();
let touched = null; // while a full query is out: the tabs that events changed meanwhile
// Which tab the person has in front: the active tab of the window with the focus. The
// window of each tab is kept here, not sent.
let focusedWindow = -1; // windows.WINDOW_ID_NONE
const windowOf = new Map();

function entry(tab) {
  windowOf.set(tab.id, tab.windowId);
  return {
    id: tab.id,
    title: tab.title ?? "",
    url: tab.url ?? tab.pendingUrl ?? "",
    incognito: !!tab.incognito,
    active: !!tab.active,
    focused: tab.windowId === focusedWindow,
  };
}

function onFocus(windowId) {
  focusedWindow = windowId;
  for (const [id, tab] of tabs) {
    tab.focused = windowOf.get(id) === windowId;
  }
  sendTabs();
}

function onActivated(info) {
  for (const [id, tab] of tabs) {
    if (windowOf.get(id) === info.windowId) {
      tab.active = id === info.tabId;
    }
  }
  sendTabs();
}

function isTab(tab) {
  return Number.isInteger(tab?.id) && tab.id >= 0;
}

function sendTabs() {
  try {
    port?.postMessage({ type: "tabs", tabs: [...tabs.values()] });
  } catch (e) {
    // The port closed meanwhile; onDisconnect reconnects.
  }
}

function onTab(tab) {
  if (isTab(tab)) {
    tabs.set(tab.id, entry(tab));
    touched?.add(tab.id);
    sendTabs();
  }
}

function onTabGone(id) {
  tabs.delete(id);
  windowOf.delete(id);
  touched?.add(id);
  sendTabs();
}

async function querySend() {
  if (!port || touched) {
    return;
  }
  touched = new Set();
  let all;
  try {
    const focused = await api.windows.getLastFocused();
    focusedWindow = focused?.focused ? focused.id : -1;
    all = await api.tabs.query({});
  } catch (e) {
    touched = null;
    return; // the browser is shutting down
  }
  // What an event said while the query was out is newer than the query's answer.
  const fresh = new Map();
  for (const tab of all) {
    if (isTab(tab) && !touched.has(tab.id)) {
      fresh.set(tab.id, entry(tab));
    }
  }
  for (const id of touched) {
    if (tabs.has(id)) {
      fresh.set(id, tabs.get(id));
    }
  }
  tabs = fresh;
  touched = null;
  sendTabs();
}

// The 网站 rules become declarativeNetRequest dynamic rules, which the browser keeps across
// restarts of the extension and of itself, so a blocked site stays blocked while winwarden is
// away. They take the ids SITE_FIRST_ID to SITE_LAST_ID; ids below 100 are kept for rules of
// other kinds. A 全部网页 rule in force is one more rule in that range, below every other.
const SITE_FIRST_ID = 1000;
const SITE_LAST_ID = 1999;
const FRAMES = ["main_frame", "sub_frame"];
// A host as winwarden sends it (IDNA ASCII, lower case, no trailing dot). The browser refuses a
// whole update over one name it cannot take, so anything else is left out.
const HOST_NAME = /^[a-z0-9_-]{1,63}(\.[a-z0-9_-]{1,63})*$/;
// The whole address, with the host as the first group: the blocked page names it.
const HOST_OF_URL = "^[^:/?#]+://(?:[^/?#@]*@)?([^/?#:]+).*$";

// Below every host's rule (whose priorities count labels, from 1): at the same priority an
// allow wins over a redirect, so the 通过 hosts still pass.
const ALL_PRIORITY = 1;
// Every web address, with the host as the first group.
const WEB_HOST_OF_URL = "^https?://(?:[^/?#@]*@)?([^/?#:]+).*$";

function noSites() {
  return { block: [], allow: [], all: false, reasons: new Map() };
}

let sitesPart = noSites(); // a set that comes in several messages, so far
let sitesWanted = null; // the latest whole set, until it is in force
let sitesApplying = false;
// Why a host is refused ("": every page), from the last whole set: the block page asks for it.
let reasons = new Map();

function onSites(message) {
  sitesPart.block = sitesPart.block.concat(message.block);
  sitesPart.allow = sitesPart.allow.concat(message.allow);
  sitesPart.all = sitesPart.all || message.all === true;
  for (const [host, text] of Object.entries(message.reasons ?? {})) {
    if (typeof text === "string") {
      sitesPart.reasons.set(host, text);
    }
  }
  if (message.more === true) {
    return;
  }
  sitesWanted = sitesPart;
  reasons = sitesPart.reasons;
  api.storage?.session?.set({ reasons: [...reasons] }).catch(() => {});
  sitesPart = noSites();
  applySites();
}

// The reason for a host's page: its own, or that of the nearest parent domain a rule names,
// or that of every page.
function reasonFor(host) {
  if (typeof host !== "string") {
    return "";
  }
  const labels = host.toLowerCase().split(".");
  for (let i = 0; i < labels.length; ++i) {
    const text = reasons.get(labels.slice(i).join("."));
    if (text !== undefined) {
      return text;
    }
  }
  return reasons.get("") ?? "";
}

// One rule per kind and number of labels, each naming all its hosts. The priority grows with
// the labels, so that of the rules covering a host the longest decides, as in winwarden: a
// 通过 rule beats the blocks of shorter hosts, and a block beats the 通过 of a shorter host.
function siteRules(sites) {
  const levels = new Map();
  const add = (hosts, kind) => {
    for (const host of hosts) {
      if (typeof host === "string" && host.length <= 253 && HOST_NAME.test(host)) {
        const labels = host.split(".").length;
        if (!levels.has(labels)) {
          levels.set(labels, { block: [], allow: [] });
        }
        levels.get(labels)[kind].push(host);
      }
    }
  };
  add(sites.block, "block");
  add(sites.allow, "allow");
  const page = api.runtime.getURL("blocked.html");
  const rules = [];
  let id = SITE_FIRST_ID;
  if (sites.all) {
    rules.push({
      id: id++,
      priority: ALL_PRIORITY,
      action: { type: "redirect", redirect: { regexSubstitution: page + "#\\1" } },
      condition: { regexFilter: WEB_HOST_OF_URL, resourceTypes: FRAMES },
    });
  }
  for (const [labels, hosts] of levels) {
    // To winwarden's page naming the host. (Where the user has withdrawn the extension's
    // access to sites, the browser ignores redirects: the page loads, and the next cycle
    // closes it.)
    if (hosts.block.length > 0) {
      rules.push({
        id: id++,
        priority: labels,
        action: { type: "redirect", redirect: { regexSubstitution: page + "#\\1" } },
        condition: { regexFilter: HOST_OF_URL, requestDomains: hosts.block, resourceTypes: FRAMES },
      });
    }
    // At the redirect's own priority an allow wins: the same host in both lists passes.
    if (hosts.allow.length > 0) {
      rules.push({
        id: id++,
        priority: labels,
        action: { type: "allow" },
        condition: { requestDomains: hosts.allow, resourceTypes: FRAMES },
      });
    }
  }
  return rules;
}

// Replaces every site rule in one update, the latest set only, one update at a time.
async function applySites() {
  if (sitesApplying || !api.declarativeNetRequest) {
    return;
  }
  sitesApplying = true;
  while (sitesWanted) {
    const sites = sitesWanted;
    sitesWanted = null;
    try {
      const old = (await api.declarativeNetRequest.getDynamicRules())
        .map((rule) => rule.id)
        .filter((id) => id >= SITE_FIRST_ID && id <= SITE_LAST_ID);
      await api.declarativeNetRequest.updateDynamicRules({
        removeRuleIds: old,
        addRules: siteRules(sites),
      });
    } catch (e) {
      console.error("winwarden: the site rules could not be put in force:", e);
    }
  }
  sitesApplying = false;
}

// Failing closed. While the administrator's policy asks for it, rules CLOSED_IDS send every new
// http(s) page, and every reload of an open one, to the extension's page until the guard has
// proved that it is there, and again once it has not for GUARD_GRACE_MS. Only the guard can
// prove it: the extension sends a fresh random challenge every CHALLENGE_MS, and counts an
// answer only when it is signed with the guard's private key (the policy names its public
// key), names a challenge of the last PROOF_MAX_AGE_MS that no answer has used yet, and bears
// a time within that challenge's life. Whatever else comes (an "alive", an answer replayed or
// made up by a host of the user's own) proves nothing. A browser's start proves nothing either:
// web pages wait from the start until the first answer (which a running guard gives at once).
// Nothing of this is kept in storage a user could clear: the policy is the administrator's, the
// rules are the browser's, and when an answer last came is kept in session storage only, so
// that a stopped and restarted service worker does not start closed again.
const GUARD_GRACE_MS = 10000;
const CHALLENGE_MS = 1000;
const PROOF_MAX_AGE_MS = 10000;
const CLOCK_SLACK_MS = 1000; // the guard's clock is this machine's, as ours
const CLOSED_IDS = [1, 2];
// Above every site rule (whose priorities count labels), so that no allowed site passes.
const CLOSED_PRIORITY = 1000;

let failClosed = null; // the policy's word, once read
let guardKey = null; // the guard's public key (a CryptoKey) from the policy
let guardSeenAt = -Infinity; // when the last verified answer came: none yet
const challenges = new Map(); // nonce -> when it was sent, until answered or too old
let closedInForce = null; // whether rules CLOSED_IDS are in the browser, once read
let closedApplying = false;

function closedRules() {
  // The waiting page keeps the address asked for, to load it once the guard answers.
  const page = api.runtime.getURL("blocked.html") + "?guard#\\0";
  const condition = { regexFilter: "^https?://.*$", resourceTypes: FRAMES };
  return [
    {
      id: CLOSED_IDS[0],
      priority: CLOSED_PRIORITY + 1,
      action: { type: "redirect", redirect: { regexSubstitution: page } },
      condition,
    },
    // Where the user has taken the extension's access to sites away the browser ignores the
    // redirect, but still blocks: the page is the browser's own error then, not a loaded one.
    { id: CLOSED_IDS[1], priority: CLOSED_PRIORITY, action: { type: "block" }, condition },
  ];
}

// Puts the rules in or takes them out as the policy and the guard's last answer say, one
// update at a time; a failed update is tried again at the next check.
async function applyClosed() {
  if (closedApplying || failClosed === null || closedInForce === null) {
    return;
  }
  closedApplying = true;
  try {
    for (;;) {
      const wanted = failClosed && Date.now() - guardSeenAt >= GUARD_GRACE_MS;
      if (wanted === closedInForce) {
        break;
      }
      await api.declarativeNetRequest.updateDynamicRules({
        removeRuleIds: CLOSED_IDS,
        addRules: wanted ? closedRules() : [],
      });
      closedInForce = wanted;
    }
  } catch (e) {
    console.error("winwarden: the rules for failing closed could not be changed:", e);
  }
  closedApplying = false;
}

async function readClosed() {
  if (!api.declarativeNetRequest) {
    return;
  }
  try {
    const ids = (await api.declarativeNetRequest.getDynamicRules()).map((rule) => rule.id);
    closedInForce = CLOSED_IDS.some((id) => ids.includes(id));
  } catch (e) {
    return; // the browser is shutting down
  }
  try {
    const seen = (await api.storage?.session?.get("guardSeenAt"))?.guardSeenAt;
    if (Number.isFinite(seen) && guardSeenAt === -Infinity) {
      guardSeenAt = Math.min(seen, Date.now());
    }
  } catch (e) {
    // No session storage: the guard answers again within a second.
  }
  readPolicy();
}

function fromBase64(text) {
  try {
    return Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  } catch (e) {
    return null;
  }
}

// Chromium reads the 3rdparty policy against schema.json; Firefox reads it without one, and
// rejects where no policy names the extension at all.
let policyReads = 0; // the reads begun: only the latest may put its answer in force

async function readPolicy() {
  const read = ++policyReads;
  let policy = {};
  try {
    policy = (await api.storage?.managed?.get(["failClosed", "guardKey"])) ?? {};
  } catch (e) {
    // No policy for the extension: it does not fail closed.
  }
  let key = null;
  const der = typeof policy.guardKey === "string" ? fromBase64(policy.guardKey) : null;
  if (policy.failClosed === true && der) {
    try {
      key = await crypto.subtle.importKey("spki", der, { name: "ECDSA", namedCurve: "P-256" },
                                          false, ["verify"]);
    } catch (e) {
      console.error("winwarden: the guard's key in the policy is not a P-256 public key:", e);
    }
  }
  if (read !== policyReads) {
    return; // a later read, begun on a change, knows better
  }
  failClosed = policy.failClosed === true;
  guardKey = key; // without one nothing proves the guard: closed it stays
  applyClosed();
  sendChallenge();
}

function sendChallenge() {
  if (!port || !failClosed || !guardKey) {
    return;
  }
  const now = Date.now();
  for (const [nonce, sentAt] of challenges) {
    if (now - sentAt > PROOF_MAX_AGE_MS) {
      challenges.delete(nonce);
    }
  }
  const nonce = btoa(String.fromCharCode(...crypto.getRandomValues(new Uint8Array(32))));
  challenges.set(nonce, now);
  try {
    port.postMessage({ type: "challenge", nonce });
  } catch (e) {
    // The port closed meanwhile; onDisconnect reconnects.
  }
}

// An answer to one of our challenges, signed by the guard: the guard is there.
async function onProof(message) {
  const sentAt = typeof message.nonce === "string" ? challenges.get(message.nonce) : undefined;
  if (sentAt === undefined || !guardKey) {
    return; // not a challenge of ours, or one already answered: a replay
  }
  challenges.delete(message.nonce);
  const time = message.time;
  const signature = typeof message.signature === "string" ? fromBase64(message.signature) : null;
  if (!Number.isInteger(time) || time < sentAt - CLOCK_SLACK_MS ||
      time > Date.now() + CLOCK_SLACK_MS || Date.now() - sentAt > PROOF_MAX_AGE_MS ||
      signature?.length !== 64) {
    return;
  }
  const text = new TextEncoder().encode(`winwarden-guard-alive ${message.nonce} ${time}`);
  let verified = false;
  try {
    verified = await crypto.subtle.verify({ name: "ECDSA", hash: "SHA-256" }, guardKey,
                                          signature, text);
  } catch (e) {
    // Not a signature at all.
  }
  if (!verified) {
    return;
  }
  guardSeenAt = Date.now();
  applyClosed();
  api.storage?.session?.set({ guardSeenAt }).catch(() => {});
}

// A notice of winwarden's for the person, as the browser's notification.
function onNotice(message) {
  if (typeof message.text !== "string" || !api.notifications) {
    return;
  }
  api.notifications
    .create({
      type: "basic",
      iconUrl: api.runtime.getURL("icon-128.png"),
      title: "浏览哨兵",
      message: message.text,
    })
    .catch((e) => console.error("winwarden: a notice could not be shown:", e));
}

function onHostMessage(message) {
  if (message?.type === "notice") {
    onNotice(message);
    return;
  }
  if (message?.type === "proof") {
    onProof(message);
    return;
  }
  if (message?.type === "alive") {
    return; // anyone's host can say that: only a signed answer counts (onProof)
  }
  if (message?.type === "sites" && Array.isArray(message.block) && Array.isArray(message.allow)) {
    onSites(message);
    return;
  }
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
    sitesPart = noSites();
    clearInterval(resendTimer);
    resendTimer = null;
    // A host that ran for a while gets a quick retry; one that keeps failing, a slower one.
    if (Date.now() - connectedAt > LAST_RETRY_MS) {
      retryMs = FIRST_RETRY_MS;
    }
    scheduleReconnect();
  });
  sendHello();
  sendChallenge();
  querySend();
  resendTimer = setInterval(querySend, RESEND_MS);
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
api.storage?.onChanged.addListener((changes, area) => {
  if (area === "managed") {
    readPolicy();
  }
});
// Chromium may hand a newly installed extension its policy some seconds after it starts, and
// does not always say when it comes: until the policy asks to fail closed, it is read again,
// every second for the first minute, then every half minute.
let ticks = 0;
setInterval(() => {
  ++ticks;
  if (failClosed === true) {
    applyClosed();
  } else if (failClosed === false && (ticks <= 60 || ticks % 30 === 0)) {
    readPolicy();
  }
}, 1000);
setInterval(sendChallenge, CHALLENGE_MS);
// The waiting page asks whether web pages open again, to load the one it stands for; the block
// page asks why its host is refused. The reason is only ever winwarden's: any site may link to
// the block page with whatever it likes in the address.
api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id) {
    return;
  }
  if (message?.type === "open?") {
    sendResponse(closedInForce === false);
  } else if (message?.type === "reason?") {
    sendResponse(reasonFor(message.host));
  }
});
// A worker started again has no set until the host sends it: the last one's reasons meanwhile.
api.storage?.session
  ?.get("reasons")
  .then((kept) => {
    if (reasons.size === 0 && Array.isArray(kept?.reasons)) {
      reasons = new Map(kept.reasons);
    }
  })
  .catch(() => {});
readClosed();
api.tabs.onCreated.addListener(onTab);
api.tabs.onUpdated.addListener((id, change, tab) => onTab(tab));
api.tabs.onRemoved.addListener(onTabGone);
api.tabs.onActivated.addListener(onActivated);
api.windows.onFocusChanged.addListener(onFocus);
api.tabs.onReplaced.addListener((added, removed) => {
  onTabGone(removed);
  api.tabs.get(added).then(onTab, () => {});
});
connect();
