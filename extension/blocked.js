// The page a refused address leads to: "?guard" while the guard has not answered, with the
// address asked for after the "#", which it loads by itself once web pages open again; else the
// blocked site's host after the "#", and below it why, where winwarden said (an allowance used
// up). The reason comes from the extension's worker, never from this page's address.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const OPEN_LOOK_MS = 500;

let said = "";
if (location.search === "?guard") {
  said = "浏览哨兵未运行，暂时不能打开网页";
  const asked = location.hash.slice(1);
  // Only a web address: any site may link to this page with whatever it likes after the "#".
  if (/^https?:\/\//i.test(asked)) {
    setInterval(() => {
      api.runtime.sendMessage({ type: "open?" }).then(
        (open) => {
          if (open === true) {
            location.replace(asked);
          }
        },
        () => {}, // the extension's worker is starting again: the next look
      );
    }, OPEN_LOOK_MS);
  }
} else {
  try {
    const host = decodeURIComponent(location.hash.slice(1));
    said = host ? "此网站已被浏览哨兵禁止：" + host : "";
    api.runtime.sendMessage({ type: "reason?", host }).then(
      (why) => {
        if (typeof why === "string") {
          document.getElementById("why").textContent = why;
        }
      },
      () => {}, // the worker is starting again: the page says only that the site is blocked
    );
  } catch (e) {
    // Not an escaped host: the page says only that the site is blocked.
  }
}
if (said) {
  document.title = said;
  document.getElementById("said").textContent = said;
}
