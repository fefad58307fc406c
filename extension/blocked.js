// The page a refused address leads to: "?guard" while the guard has not answered, with the
// address asked for after the "#", which it loads by itself once web pages open again; else the
// blocked site's host after the "#".
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
  } catch (e) {
    // Not an escaped host: the page says only that the site is blocked.
  }
}
if (said) {
  document.title = said;
  document.getElementById("said").textContent = said;
}
