// The page a refused address leads to: "?guard" when no guard answers, else the blocked site's
// host after the "#".
"use strict";

let said = "";
if (location.search === "?guard") {
  said = "浏览哨兵未运行，暂时不能打开网页";
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
