// The team web page end to end in headless Chromium against a real server of engine
// and storage on loopback: an administrator and a member, each in a browser context
// of their own (cookies ignore ports, so one context is one person).

import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { launchBrowser, startServer } from "./team_page_support.mjs";

let folder, server, base, browser;
const requests = [];

async function person() {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  context.on("request", (r) => requests.push(r.url()));
  const page = await context.newPage();
  await page.goto(base + "/");
  return { context, page };
}

async function signIn(page, user, pass) {
  await page.fill("#lUser", user);
  await page.fill("#lPass", pass);
  await page.click("#lBtn");
}

const toastSays = (page, text) => page.waitForFunction((t) => document.getElementById("toast").textContent === t, text);
const rowNames = (page) => page.$$eval("#list .row .name", (els) => els.map((e) => e.textContent));

before(async () => {
  folder = fs.mkdtempSync(path.join(os.tmpdir(), "team-page-"));
  server = await startServer(process.env.TEAM_PAGE_SERVER, folder);
  base = server.relay;
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  server?.child.stdin.end();
  fs.rmSync(folder, { recursive: true, force: true });
});

test("a member applies, is approved, and works with files; the administrator manages the team", async (t) => {
  const admin = await person();
  const member = await person();
  const A = admin.page, M = member.page;

  await t.test("sign-in card, validation and the administrator's main screen", async () => {
    await A.waitForSelector("#teamBlock:not(.hidden)");
    assert.match(await A.textContent("#authSub"), /Desk上的团队空间，登录后可以存取团队文件。/);
    assert.equal(await A.getAttribute("label[for=fCode]", "for"), "fCode");
    await A.click("#lBtn");
    assert.equal(await A.textContent("#authErr"), "请填写用户名和密码");
    await signIn(A, "admin", "boss-pass");
    await A.waitForSelector("#main:not(.hidden)");
    assert.equal(await A.textContent("#meName"), "Boss");
    assert.ok(await A.isVisible("#navUsers"));
  });

  await t.test("applying to join leads to the pending screen", async () => {
    await M.click("#switchBtn");
    assert.equal(await M.textContent("#switchBtn"), "已有账号，去登录");
    await M.fill("#rUser", "a!");
    await M.click("#rBtn");
    assert.equal(await M.textContent("#authErr"), "用户名 3-20 位，只能英文、数字、下划线");
    await M.fill("#rUser", "amy");
    await M.fill("#rEmail", "bad@x");
    await M.click("#rBtn");
    assert.equal(await M.textContent("#authErr"), "邮箱格式不对");
    await M.fill("#rEmail", "");
    await M.fill("#rName", "A&<b>x</b>");
    await M.fill("#rPass", "amy-pass");
    await M.fill("#rNote", "hi <i>&</i>");
    await M.click("#rBtn");
    await M.waitForSelector("#pend:not(.hidden)");
  });

  await t.test("the administrator approves in the members view; names and notes stay text", async () => {
    // The mail settings the page asks for on loading arrive only after the approval.
    await server.command("hold /api/mail 0");
    await A.reload();
    await A.waitForSelector("#main:not(.hidden)");
    await A.waitForFunction(() => document.getElementById("pendCount").textContent === "1");
    await A.click("#navUsers");
    const row = A.locator(".member", { hasText: "@amy" });
    await row.waitFor();
    assert.match(await row.textContent(), /A&<b>x<\/b>待审批/);
    assert.match(await row.textContent(), /hi <i>&<\/i>/);
    assert.equal(await row.locator("b, i").count(), 0);
    // Approved by keys, the last one waiting: the keys go on to the members' heading, and
    // stay there when the view is drawn again for the mail settings.
    await row.locator("[data-act=approve]").focus();
    await A.keyboard.press("Enter");
    await toastSays(A, "已通过");
    await row.locator("[data-act=approve]").waitFor({ state: "detached" });
    await A.evaluate(() => { document.getElementById("mailState").dataset.old = "1"; });
    await server.command("release /api/mail");
    await A.waitForFunction(() => !document.getElementById("mailState").dataset.old);
    assert.deepEqual(await A.evaluate((el = document.activeElement) => [el === document.body ? "(body)" : el.textContent,
      el.matches(":focus-visible")]), ["成员 · 2", true]);
  });

  await t.test("the member uploads by chooser and by drop, downloads, deletes and makes a folder", async () => {
    await M.reload();
    await M.waitForSelector("#auth:not(.hidden)");
    await signIn(M, "amy", "amy-pass");
    await M.waitForSelector("#main:not(.hidden)");
    await M.waitForSelector("text=共享区还是空的");

    const chooser = M.waitForEvent("filechooser");
    await M.click("#upBtn");
    await (await chooser).setFiles([
      { name: "one.txt", mimeType: "text/plain", buffer: Buffer.from("first file") },
      { name: "R&D notes.md", mimeType: "text/plain", buffer: Buffer.from("second") },
    ]);
    await M.waitForFunction(() => document.querySelectorAll("#list .row").length === 2);
    await M.evaluate(() => {
      const data = new DataTransfer();
      data.items.add(new File(["dropped bytes"], "dropped.bin"));
      document.body.dispatchEvent(new DragEvent("drop", { dataTransfer: data, bubbles: true, cancelable: true }));
    });
    await M.waitForFunction(() => document.querySelectorAll("#list .row").length === 3);
    assert.deepEqual(await rowNames(M), ["dropped.bin", "one.txt", "R&D notes.md"]);
    assert.match(await M.locator(".row", { hasText: "R&D" }).locator(".name").innerHTML(), /^R&amp;D notes\.md$/);
    assert.equal(fs.readFileSync(path.join(folder, "_shared", "R&D notes.md"), "utf8"), "second");

    const download = M.waitForEvent("download");
    await M.locator(".row", { hasText: "one.txt" }).locator("a").click();
    const file = await (await download).path();
    assert.equal(fs.readFileSync(file, "utf8"), "first file");

    M.once("dialog", (d) => {
      assert.equal(d.message(), "确定删除「dropped.bin」？\n删除后不可恢复。");
      d.accept();
    });
    await M.locator(".row", { hasText: "dropped.bin" }).locator("[data-del-file]").click();
    await toastSays(M, "已删除");
    assert.ok(!fs.existsSync(path.join(folder, "_shared", "dropped.bin")));

    M.once("dialog", (d) => {
      assert.equal(d.message(), "新建文件夹名称：");
      d.accept("  报告 & 资料  ");
    });
    await M.click("#mkBtn");
    await toastSays(M, "已创建");
    assert.ok(fs.statSync(path.join(folder, "_shared", "报告 & 资料")).isDirectory());
    await M.waitForFunction(() => document.querySelector("#list .row.dir .name")?.textContent === "报告 & 资料");
  });

  await t.test("the logo leaves a PNG of at most 256 pixels; the mail form saves", async () => {
    const wide = await A.evaluate(() => {
      const c = document.createElement("canvas");
      c.width = 600;
      c.height = 300;
      c.getContext("2d").fillRect(0, 0, 600, 300);
      return c.toDataURL("image/png").split(",")[1];
    });
    const chooser = A.waitForEvent("filechooser");
    await A.click("#logoBtn");
    await (await chooser).setFiles({ name: "logo.png", mimeType: "image/png", buffer: Buffer.from(wide, "base64") });
    await toastSays(A, "Logo 已更新");
    const logo = fs.readFileSync(path.join(folder, "_team", "logo.img"));
    assert.equal(logo.subarray(1, 4).toString(), "PNG");
    assert.deepEqual([logo.readUInt32BE(16), logo.readUInt32BE(20)], [256, 128]);

    await A.fill("#mHost", "smtp.example.com");
    await A.fill("#mPort", "");
    await A.fill("#mUser", "team@example.com");
    await A.fill("#mPass", "app-code");
    await A.click("#mailSave");
    await toastSays(A, "已保存");
    const mailFile = () => JSON.parse(fs.readFileSync(path.join(folder, "_team", "mail.json"), "utf8"));
    const mail = mailFile();
    assert.equal(mail.host, "smtp.example.com");
    assert.equal(mail.port, 465);
    assert.equal(mail.tls, true);
    await A.waitForSelector("text=已接通");

    // A submission port speaks STARTTLS: a server set up on 587 was spoken to with TLS at once.
    await A.fill("#mPort", "587");
    await A.click("#mailSave");
    await A.waitForSelector("text=smtp.example.com:587");
    assert.deepEqual([mailFile().port, mailFile().tls], [587, false]);
  });

  await t.test("on a phone 390 pixels wide the space gauge stays whole inside the page", async () => {
    await A.setViewportSize({ width: 390, height: 844 });
    await A.waitForFunction(() => document.getElementById("gauge").textContent.includes(" / "));
    const seen = await A.evaluate(() => {
      const gauge = document.getElementById("gauge");
      const strip = gauge.parentElement;
      const box = gauge.getBoundingClientRect();
      return { text: gauge.textContent, left: box.left, right: box.right, page: document.documentElement.clientWidth,
               stripRight: strip.getBoundingClientRect().right, hiddenInStrip: strip.scrollWidth - strip.clientWidth,
               hiddenInGauge: gauge.scrollWidth - gauge.clientWidth };
    });
    assert.match(seen.text, /^剩余空间\S.* \/ .*B$/);
    assert.ok(seen.left >= 0 && seen.right <= seen.stripRight && seen.right <= seen.page, JSON.stringify(seen));
    assert.deepEqual([seen.hiddenInStrip, seen.hiddenInGauge], [0, 0], JSON.stringify(seen));
    await A.setViewportSize({ width: 1280, height: 800 });
  });

  await t.test("on a phone 390 pixels wide a badge stays on one line and file names get the row's room", async () => {
    await A.setViewportSize({ width: 390, height: 844 });
    const longName = "市场部与设计部联合项目组负责人王小明";
    await A.evaluate(async (name) => {
      await fetch("/api/auth/register", { method: "POST", headers: { "Content-Type": "application/json" },
        body: JSON.stringify({ user: "wang", name, pass: "wang-pass", note: "", email: "" }) });
      await fetch("/api/tf/up?scope=shared&path=&name=" + encodeURIComponent("2024年第三季度市场推广预算汇总.xlsx"),
        { method: "PUT", headers: { "Content-Type": "application/octet-stream" }, body: "x" });
    }, longName);
    await A.reload();
    await A.waitForSelector("#main:not(.hidden)");
    await A.click("#navUsers");
    const tag = A.locator(".member", { hasText: "@wang" }).locator(".tag");
    await tag.waitFor();
    const badge = await tag.evaluate((el) => ({ text: el.textContent, lines: el.getClientRects().length,
      height: el.getBoundingClientRect().height, line: parseFloat(getComputedStyle(el).lineHeight) || 0,
      fontSize: parseFloat(getComputedStyle(el).fontSize) }));
    assert.equal(badge.text, "待审批");
    assert.ok(badge.lines === 1 && badge.height < 2 * badge.fontSize + 4, JSON.stringify(badge));

    await A.click("#navShared");
    await A.waitForFunction(() => [...document.querySelectorAll("#list .row .name")].some((n) => n.textContent.startsWith("2024")));
    const names = await A.$$eval("#list .row.file", (rows) => rows.map((row) => {
      const name = row.querySelector(".name"), icon = row.firstElementChild;
      const style = getComputedStyle(row);
      const room = row.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight) -
        icon.getBoundingClientRect().width - parseFloat(style.columnGap);
      return { name: name.textContent, width: name.clientWidth, room, cut: name.scrollWidth > name.clientWidth };
    }));
    assert.ok(names.length >= 3, JSON.stringify(names));
    for (const n of names) assert.ok(n.width >= n.room - 1 && !n.cut, JSON.stringify(n));
    await A.setViewportSize({ width: 1280, height: 800 });
  });

  await t.test("sessions: a valid cookie opens the main screen, an expired one the sign-in card", async () => {
    const again = await member.context.newPage();
    await again.goto(base + "/team");
    await again.waitForSelector("#main:not(.hidden)");
    const stale = await browser.newContext();
    stale.on("request", (r) => requests.push(r.url()));
    await stale.addCookies([{ name: "qp_s", value: "0".repeat(64), url: base }]);
    const page = await stale.newPage();
    await page.goto(base + "/");
    await page.waitForSelector("#auth:not(.hidden)");
    await page.waitForFunction(() => document.getElementById("authSub").textContent !== "正在连接…");
    assert.equal(await page.textContent("#authErr"), "");
    await page.click("#toForgot");
    await page.type("#fCode", "1234567890");
    assert.equal(await page.inputValue("#fCode"), "123456");
    await stale.close();
  });

  await t.test("a storage that cannot be reached is said so, never shown as an empty folder", async () => {
    const page = await member.context.newPage();
    const lost = JSON.stringify({ error: "存储无法访问，请检查存储设备或网络" });
    await page.route("**/api/tf/list**", (route) =>
      route.fulfill({ status: 503, contentType: "application/json; charset=utf-8", body: lost }));
    await page.goto(base + "/team");
    await page.waitForSelector("#main:not(.hidden)");
    await page.waitForFunction(() => document.getElementById("list").textContent.includes("存储无法访问"));
    const shown = await page.textContent("#list");
    assert.equal(shown.includes("共享区还是空的"), false, shown);
    await page.close();
  });

  await t.test("nothing is kept in the browser and nothing leaves the origin", async () => {
    for (const page of [A, M]) {
      const kept = await page.evaluate(() => [document.cookie, localStorage.length, sessionStorage.length]);
      assert.ok(!kept[0].includes("qp_s"));
      assert.deepEqual(kept.slice(1), [0, 0]);
    }
    const foreign = requests.filter((u) => !u.startsWith(base + "/") && !u.startsWith("data:") && !u.startsWith("blob:"));
    assert.deepEqual(foreign, []);
  });

  await admin.context.close();
  await member.context.close();
});
