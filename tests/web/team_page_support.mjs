// What the team page's browser tests and screenshots share: the loopback server of
// engine and storage and Debian's chromium.

import { spawn } from "node:child_process";
import { chromium } from "playwright-core";

const FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];

// Starts team_page_server on FOLDER; resolves once it prints the port it listens on.
export function startServer(serverPath, folder) {
  return new Promise((resolve, reject) => {
    const child = spawn(serverPath, [folder], { stdio: ["pipe", "pipe", "inherit"] });
    child.stdout.on("data", (chunk) => {
      const m = /port (\d+)/.exec(String(chunk));
      if (m) resolve({ child, port: Number(m[1]), base: "http://127.0.0.1:" + m[1] });
    });
    child.on("error", reject);
    child.on("exit", (code) => reject(new Error("server ended with " + code)));
  });
}

export function launchBrowser() {
  return chromium.launch({ executablePath: "/usr/bin/chromium", args: FLAGS });
}
