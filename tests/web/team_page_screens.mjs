// Screenshots of the team page (sign-in card, main screen with files, members view) at
// 1280×800 and 375×812: node team_page_screens.mjs TEAM_PAGE_SERVER OUT_FOLDER.

import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { launchBrowser, startServer } from "./team_page_support.mjs";

const [serverPath, out] = process.argv.slice(2);
const folder = fs.mkdtempSync(path.join(os.tmpdir(), "team-screens-"));
fs.mkdirSync(path.join(folder, "_shared", "设计稿"), { recursive: true });
for (const [name, size] of [["季度报告.pdf", 2400000], ["R&D notes.md", 5300], ["会议纪要.docx", 88000], ["demo.mp4", 52000000]]) {
  fs.writeFileSync(path.join(folder, "_shared", name), Buffer.alloc(size, 1));
}
const { child, base } = await startServer(serverPath, folder);
const browser = await launchBrowser();
await fetch(base + "/api/auth/register", {
  method: "POST", headers: { "Content-Type": "application/json" },
  body: JSON.stringify({ user: "amy", name: "Amy", pass: "amy-pass", note: "设计组", email: "" }),
});
for (const [label, width, height] of [["wide", 1280, 800], ["narrow", 375, 812]]) {
  const context = await browser.newContext({ viewport: { width, height } });
  const page = await context.newPage();
  await page.goto(base + "/");
  await page.waitForFunction(() => document.getElementById("authSub").textContent !== "正在连接…");
  await page.screenshot({ path: path.join(out, `team-page-signin-${label}.png`) });
  await page.fill("#lUser", "admin");
  await page.fill("#lPass", "boss-pass");
  await page.click("#lBtn");
  await page.waitForSelector("#list .row");
  await page.screenshot({ path: path.join(out, `team-page-files-${label}.png`) });
  await page.click("#navUsers");
  await page.waitForSelector(".member");
  await page.screenshot({ path: path.join(out, `team-page-members-${label}.png`) });
  await context.close();
}
await browser.close();
child.stdin.end();
fs.rmSync(folder, { recursive: true, force: true });
console.log("screens: team page");
