// The team page without a mouse and under an accessibility audit, in headless Chromium
// against a loopback server of engine and storage: folders open from the keyboard at a
// phone's and a desktop's width, and axe-core finds nothing on any view of the page.

import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import { createRequire } from "node:module";
import os from "node:os";
import path from "node:path";
import { launchBrowser, startServer } from "./team_page_support.mjs";

const axeSource = fs.readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
const RULES = { runOnly: { type: "tag", values: ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa", "best-practice"] } };
// 1×1 PNG, so the files view holds a thumbnail that loads.
const PIXEL = "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==";

const UPLOAD = 64 << 20;
// Who applies to join for the keys test at WIDTH pixels.
const applicants = (width) => ["a", "b", "c"].map((letter) => "w" + width + letter);

let folder, server, browser;

before(async () => {
  folder = fs.mkdtempSync(path.join(os.tmpdir(), "team-access-"));
  const shared = path.join(folder, "_shared");
  fs.mkdirSync(path.join(shared, "设计稿"), { recursive: true });
  fs.mkdirSync(path.join(shared, "合同"));
  fs.writeFileSync(path.join(shared, "设计稿", "封面.txt"), "cover");
  fs.writeFileSync(path.join(shared, "季度报告.pdf"), "report");
  fs.writeFileSync(path.join(shared, "截图.png"), Buffer.from(PIXEL, "base64"));
  // The file to upload, outside the team's spaces.
  fs.writeFileSync(path.join(folder, "大文件.bin"), "");
  fs.truncateSync(path.join(folder, "大文件.bin"), UPLOAD);
  server = await startServer(process.env.TEAM_PAGE_SERVER, folder);
  for (const user of ["amy", "bob", "cat", "pendy", ...applicants(390), ...applicants(1440)]) {
    const reply = await fetch(server.base + "/api/auth/register", {
      method: "POST", headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ user, name: user.toUpperCase(), pass: user + "-pass", note: "", email: "" }),
    });
    assert.equal(reply.status, 200, await reply.text());
  }
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  server?.child.stdin.end();
  fs.rmSync(folder, { recursive: true, force: true });
});

async function openPage(width) {
  const context = await browser.newContext({ viewport: { width, height: 800 } });
  context.setDefaultTimeout(10000);
  const page = await context.newPage();
  await page.goto(server.relay + "/");
  await page.waitForFunction(() => document.getElementById("authSub").textContent !== "正在连接…");
  return { context, page };
}

const focusedId = (page) => page.evaluate(() => document.activeElement?.id || "");
const rowNames = (page) => page.$$eval("#list .row .name", (els) => els.map((e) => e.textContent));

async function signInByKeys(page, user, pass) {
  await page.keyboard.press("Tab");
  assert.equal(await focusedId(page), "lUser");
  await page.keyboard.type(user);
  await page.keyboard.press("Tab");
  assert.equal(await focusedId(page), "lPass");
  await page.keyboard.type(pass);
  await page.keyboard.press("Enter");
}

// Presses Tab until the folder row named NAME holds the focus; what each press reached
// goes into the failure message.
async function tabToFolder(page, name) {
  const reached = [];
  for (let press = 0; press < 30; press++) {
    await page.keyboard.press("Tab");
    const here = await page.evaluate((wanted) => {
      const el = document.activeElement;
      const row = el?.closest(".row.dir");
      return { text: el?.textContent.trim() ?? "", onFolder: !!row && el.textContent === wanted &&
        row.querySelector(".name")?.textContent === wanted };
    }, name);
    reached.push(here.text.slice(0, 20));
    if (here.onFolder) return;
  }
  assert.fail("Tab never reached the folder " + name + ": " + reached.join(" | "));
}

// Where the keys are, as a screen reader tells it (the focused element's node in
// Chromium's accessibility tree) and a sighted user sees it (its focus ring), with the
// member row it sits in.
async function keysAt(page) {
  const cdp = await page.context().newCDPSession(page);
  const { result } = await cdp.send("Runtime.evaluate", { expression: "document.activeElement" });
  const { nodes } = await cdp.send("Accessibility.getPartialAXTree", { objectId: result.objectId, fetchRelatives: false });
  await cdp.detach();
  const seen = await page.evaluate(() => {
    const el = document.activeElement, style = getComputedStyle(el);
    return { current: el.getAttribute("aria-current"), row: el.closest(".member")?.querySelector(".line2").textContent.split(" ")[0] ?? null,
      ring: style.outlineStyle !== "none" && parseFloat(style.outlineWidth) > 0 || style.boxShadow !== "none" };
  });
  return { role: nodes[0]?.role?.value, name: nodes[0]?.name?.value, ...seen };
}
// The accessible description of the element SELECTOR, as Chromium gives it to a screen reader.
async function description(page, selector) {
  const cdp = await page.context().newCDPSession(page);
  const { result } = await cdp.send("Runtime.evaluate", { expression: `document.querySelector(${JSON.stringify(selector)})` });
  const { nodes } = await cdp.send("Accessibility.getPartialAXTree", { objectId: result.objectId, fetchRelatives: false });
  await cdp.detach();
  return nodes[0]?.description?.value ?? "";
}
const onButton = (name, more) => ({ role: "button", name, current: null, row: null, ring: true, ...more });

const memberButton = (page, user, act) => page.locator(".member", { hasText: "@" + user + " " }).locator(`[data-act=${act}]`);

// Presses Enter where the keys are, on a button deciding on USER, and waits until the
// members are drawn again with USER decided.
async function decideByEnter(page, user) {
  await page.keyboard.press("Enter");
  await memberButton(page, user, "approve").waitFor({ state: "detached" });
}

for (const width of [390, 1440]) {
  test(`at ${width} pixels the keys stay where they are seen and heard: signing in, a folder, decisions, the temporary password`, async () => {
    const { context, page } = await openPage(width);
    const [first, second, third] = applicants(width);
    await signInByKeys(page, "admin", "boss-pass");
    await page.waitForFunction(() => document.querySelectorAll("#list .row.dir").length === 2);
    assert.deepEqual(await rowNames(page), ["合同", "设计稿", "季度报告.pdf", "截图.png"]);
    assert.deepEqual(await keysAt(page), onButton("共享区", { current: "location" }), "after signing in");

    await tabToFolder(page, "设计稿");
    assert.deepEqual(await keysAt(page), onButton("设计稿"));
    await page.keyboard.press("Enter");
    await page.waitForFunction(() => document.querySelector("#list .row .name")?.textContent === "封面.txt");
    assert.deepEqual(await rowNames(page), ["封面.txt"]);
    assert.equal(await page.textContent("#crumb"), "共享区 › 设计稿");
    assert.equal(await page.textContent("main:not([hidden]) h1"), "共享区 › 设计稿");
    // The keys are on the path's current place; Tab goes on from there to the folder's controls.
    assert.deepEqual(await keysAt(page), onButton("设计稿", { current: "location" }), "after opening a folder");
    await page.keyboard.press("Tab");
    assert.equal(await focusedId(page), "upBtn");

    // An approval and a refusal by keys leave them on the same button of the next row.
    await page.locator("#navUsers").focus();
    await page.keyboard.press("Enter");
    await page.locator(".member", { hasText: "@" + third }).waitFor();
    await memberButton(page, first, "approve").focus();
    await decideByEnter(page, first);
    assert.deepEqual(await keysAt(page), onButton("通过", { row: "@" + second }), "after an approval");
    await page.keyboard.press("Tab");
    await decideByEnter(page, second);
    assert.deepEqual(await keysAt(page), onButton("拒绝", { row: "@" + third }), "after a refusal");

    // The temporary password dialog is described by the password, and the keys land on its
    // selected box, so Enter there keeps it; Tab and Shift+Tab go round the box and
    // "知道了"; Escape gives the keys back.
    await memberButton(page, first, "recover").focus();
    page.once("dialog", (d) => d.accept());
    await page.keyboard.press("Enter");
    await page.waitForSelector("#modal:not(.hidden)");
    const password = await page.inputValue("#tempPass");
    assert.match(password, /^\S{6,}$/);
    assert.match(await description(page, "#modalCard"), new RegExp("^" + password + " "), "the dialog's description");
    // A field shows the keys by its accent border, as every field of the page does.
    assert.deepEqual(await keysAt(page), { role: "textbox", name: "临时密码", current: null, row: null, ring: false },
      "as the dialog opens");
    const border = () => page.$eval("#tempPass", (el) => getComputedStyle(el).borderColor);
    const focusedBorder = await border();
    assert.equal(await page.evaluate(() => window.getSelection().toString() || document.activeElement.value.slice(
      document.activeElement.selectionStart, document.activeElement.selectionEnd)), password, "the password is selected");
    await page.keyboard.press("Enter");
    assert.ok(await page.isVisible("#modal"), "Enter on the password closed the dialog");
    for (const [key, at] of [["Tab", "modalOk"], ["Tab", "tempPass"], ["Shift+Tab", "modalOk"]]) {
      assert.equal(await page.keyboard.press(key).then(() => focusedId(page)), at, key);
    }
    assert.notEqual(await border(), focusedBorder, "the password's box looks the same with and without the keys");
    await page.keyboard.press("Escape");
    assert.deepEqual(await keysAt(page), onButton("重置密码", { row: "@" + first }), "after the dialog");
    await context.close();
  });
}

// The keys dropped to the page after 忘记密码？, on the pending screen and when the files were
// drawn again at an upload's end; the upload's live region lay in the screen the password
// dialog makes inert; failures were told twice; the space's name lost its accent colour.
test("the keys stay on screen changes and redrawn files, uploads are heard behind the dialog and failures once", async () => {
  const { context, page } = await openPage(1440);
  await page.focus("#toForgot");
  await page.keyboard.press("Enter");
  assert.equal(await focusedId(page), "fAccount", "after 忘记密码？");
  await page.click("#backLogin");
  await page.fill("#lUser", "pendy");
  await page.fill("#lPass", "pendy-pass");
  await page.focus("#lBtn");
  await page.keyboard.press("Enter");
  await page.waitForSelector("#pend:not(.hidden)");
  assert.equal(await focusedId(page), "pendReload", "on the pending screen");

  await page.goto(server.relay + "/");
  await page.waitForFunction(() => document.getElementById("authSub").textContent !== "正在连接…");
  await signInByKeys(page, "admin", "boss-pass");
  await page.waitForFunction(() => document.querySelectorAll("#list .row.dir").length === 2);
  const colour = (selector) => page.$eval(selector, (el) => getComputedStyle(el).color);
  const accent = await page.$eval("button.link", (el) => getComputedStyle(el).color);
  assert.equal(await colour("#crumb [aria-current]"), accent, "the space's name at its top");
  await page.evaluate(() => {
    window.told = [];
    new MutationObserver((changes) => changes.forEach((c) => c.addedNodes.forEach((n) => told.push(n.textContent))))
      .observe(document.getElementById("upsay"), { childList: true });
  });
  const upload = async (name, content) => {
    await page.setInputFiles("#filePick", { name, mimeType: "text/plain", buffer: Buffer.from(content) });
    await page.waitForSelector("#upbox.hidden", { state: "attached" });
  };
  const listed = (name) => page.waitForFunction((n) => Array.from(document.querySelectorAll("#list .row .name"))
    .some((e) => e.textContent === n), name);

  await tabToFolder(page, "设计稿");
  await page.keyboard.press("Enter");
  await listed("封面.txt");
  assert.notEqual(await colour("#crumb [aria-current]"), accent, "a folder's name");
  await upload("一.txt", "one");
  await listed("一.txt");
  assert.deepEqual(await keysAt(page), onButton("设计稿", { current: "location" }), "on the path after an upload");
  await page.locator(".row.file", { hasText: "封面.txt" }).locator("[data-del-file]").focus();
  await upload("二.txt", "two");
  await listed("二.txt");
  assert.deepEqual(await page.evaluate(() => ({ act: document.activeElement.textContent,
    row: document.activeElement.closest(".row")?.querySelector(".name").textContent })), { act: "删除", row: "封面.txt" },
    "on a row's 删除 after an upload");

  // Behind the password dialog the live region still speaks.
  await page.evaluate(() => openModal("abcdef12"));
  await upload("三.txt", "three");
  const cdp = await context.newCDPSession(page);
  const { result } = await cdp.send("Runtime.evaluate", { expression: "document.getElementById('upsay')" });
  const { nodes } = await cdp.send("Accessibility.getPartialAXTree", { objectId: result.objectId, fetchRelatives: false });
  await cdp.detach();
  assert.equal(nodes[0]?.ignored, false, "the live region is out of a screen reader's reach behind the dialog");
  assert.equal((await page.evaluate(() => told)).at(-1), "「三.txt」上传完成");
  await page.keyboard.press("Escape");

  // A name the server refuses: the toast tells it, and the live region says no other words.
  const toasts = [];
  await page.exposeFunction("toastShown", (text) => toasts.push(text));
  await page.evaluate(() => new MutationObserver(() => toastShown(document.getElementById("toast").textContent))
    .observe(document.getElementById("toast"), { childList: true, characterData: true, subtree: true }));
  await upload("坏".repeat(200) + ".txt", "bad");
  await page.waitForFunction(() => document.getElementById("toast").textContent === "1 个文件上传失败");
  const said = await page.evaluate(() => told);
  assert.ok(said.at(-1).startsWith("开始上传") && toasts.includes("1 个文件上传失败"), JSON.stringify({ said, toasts }));
  await context.close();
});

// axe-core over the whole document. White on the accent (#d85a30) is the one contrast
// failure accepted. Contrast that axe measured too low but leaves for review (a badge's
// single digit is "too short to be text") counts as a violation. Each violation is listed
// with the elements it was found on.
async function violations(page) {
  if (!(await page.evaluate(() => "axe" in window))) await page.addScriptTag({ content: axeSource });
  const result = await page.evaluate((rules) => window.axe.run(document, rules), RULES);
  const contrast = (node) => node.any.find((c) => c.id === "color-contrast")?.data ?? {};
  const tooLow = (node) => contrast(node).contrastRatio < parseFloat(contrast(node).expectedContrastRatio);
  const whiteOnAccent = (node) => contrast(node).fgColor === "#ffffff" && contrast(node).bgColor === "#d85a30";
  const measured = result.incomplete.filter((v) => v.id === "color-contrast")
    .map((v) => ({ ...v, nodes: v.nodes.filter(tooLow) }));
  return result.violations.concat(measured)
    .map((v) => ({ id: v.id, nodes: v.nodes.filter((n) => v.id !== "color-contrast" || !whiteOnAccent(n)) }))
    .filter((v) => v.nodes.length)
    .map((v) => v.id + ": " + v.nodes.map((n) => n.target.join(" ") + (v.id === "color-contrast"
      ? " (" + contrast(n).fgColor + " on " + contrast(n).bgColor + ")" : "")).join(", "));
}

// What the live region told of the upload: its start, then the quarters it passed, rising
// (one progress event may pass two), up to LAST (100: its end).
function assertToldInSteps(told, last) {
  const levels = told.slice(1).map((text) => text === "「大文件.bin」上传完成" ? 100
    : Number(/^「大文件\.bin」已上传 (25|50|75)%$/.exec(text)?.[1]));
  assert.ok(told[0] === "开始上传「大文件.bin」" && levels.every((q, i) => q > (levels[i - 1] ?? 0)) && levels.at(-1) === last,
    JSON.stringify(told));
}

async function manageMembers(page) {
  await page.evaluate(async () => {
    const call = (route, body) => fetch(route, { method: "POST", headers: { "Content-Type": "application/json" },
      body: JSON.stringify(body) });
    const { users } = await (await fetch("/api/auth/users")).json();
    const id = (user) => users.find((u) => u.user === user).id;
    await call("/api/auth/approve", { id: id("bob"), allow: true });
    await call("/api/auth/approve", { id: id("cat"), allow: true });
    await call("/api/auth/block", { id: id("cat") });
  });
}

test("every view of the page passes axe-core's WCAG 2.1 AA rules and best practices", async (t) => {
  const { context, page } = await openPage(1280);
  const passes = async (view) => assert.deepEqual(await violations(page), [], view);

  await t.test("sign-in", () => passes("sign-in"));
  await t.test("apply to join", async () => {
    await page.click("#switchBtn");
    await page.waitForSelector("#paneReg:not(.hidden)");
    await passes("apply to join");
  });
  await t.test("recover", async () => {
    await page.click("#switchBtn");
    await page.click("#toForgot");
    await page.waitForSelector("#paneRecover:not(.hidden)");
    await passes("recover");
  });
  await t.test("pending", async () => {
    await page.click("#backLogin");
    await page.fill("#lUser", "amy");
    await page.fill("#lPass", "amy-pass");
    await page.click("#lBtn");
    await page.waitForSelector("#pend:not(.hidden)");
    await passes("pending");
  });
  await t.test("files", async () => {
    await page.reload();
    await page.fill("#lUser", "admin");
    await page.fill("#lPass", "boss-pass");
    await page.click("#lBtn");
    await page.waitForSelector("#main:not(.hidden)");
    await manageMembers(page);
    await page.reload();
    await page.waitForFunction(() => document.querySelector("#list .thumb")?.complete);
    await passes("files");
  });
  // The relay in front of the server stops the upload's body a quarter of the way, until
  // let go; meanwhile every view is audited with the upload box shown.
  await t.test("an upload held mid-flight: its box in the main landmark, told through a polite live region", async () => {
    await page.evaluate(() => {
      window.told = [];
      new MutationObserver((changes) => changes.forEach((c) => c.addedNodes.forEach((n) => told.push(n.textContent))))
        .observe(document.getElementById("upsay"), { childList: true });
    });
    await server.command("hold /api/tf/up " + UPLOAD / 4);
    const chooser = page.waitForEvent("filechooser");
    await page.click("#upBtn");
    await (await chooser).setFiles(path.join(folder, "大文件.bin"));
    await page.waitForFunction(() => parseFloat(document.getElementById("upbar").style.width) >= 25);
    const seen = await page.evaluate(() => ({ told, percent: parseFloat(upbar.style.width), live: upsay.getAttribute("aria-live") }));
    assert.equal(seen.live, "polite");
    assertToldInSteps(seen.told, Math.floor(Math.min(seen.percent, 99) / 25) * 25);
    await passes("files with an upload");
  });
  await t.test("members", async () => {
    await page.click("#navUsers");
    await page.locator(".member", { hasText: "@cat" }).locator(".tag", { hasText: "已停用" }).waitFor();
    await page.waitForSelector("#mailState");
    await passes("members");
  });
  await t.test("temporary password", async () => {
    await memberButton(page, "bob", "recover").focus();
    page.once("dialog", (d) => d.accept());
    await page.keyboard.press("Enter");
    await page.waitForSelector("#modal:not(.hidden)");
    await passes("temporary password");
    await page.keyboard.press("Escape");
  });
  await t.test("the upload let go is told finished", async () => {
    await server.command("release /api/tf/up");
    await page.waitForSelector("#upbox.hidden", { state: "attached" });
    assertToldInSteps(await page.evaluate(() => told), 100);
    assert.equal(fs.statSync(path.join(folder, "_shared", "大文件.bin")).size, UPLOAD);
  });
  await context.close();
});
