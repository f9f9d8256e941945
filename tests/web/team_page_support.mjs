// What the team page's browser tests and screenshots share: the loopback server of
// engine and storage and Debian's chromium.

import { spawn } from "node:child_process";
import { createInterface } from "node:readline";
import { chromium } from "playwright-core";

const FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];

// Starts team_page_server on FOLDER; resolves once it prints the ports it listens on.
// `relay` is the address of the holding relay in front of it; `command` sends a line that
// steers the relay and resolves once the server has acted on it.
export function startServer(serverPath, folder) {
  return new Promise((resolve, reject) => {
    const child = spawn(serverPath, [folder], { stdio: ["pipe", "pipe", "inherit"] });
    const answers = [];
    const command = (line) => new Promise((done) => { answers.push(done); child.stdin.write(line + "\n"); });
    createInterface({ input: child.stdout }).on("line", (line) => {
      const m = /^port (\d+) relay (\d+)$/.exec(line);
      if (m) resolve({ child, port: Number(m[1]), base: "http://127.0.0.1:" + m[1], relay: "http://127.0.0.1:" + m[2], command });
      if (line.startsWith("ok ")) answers.shift()();
    });
    child.on("error", reject);
    child.on("exit", (code) => reject(new Error("server ended with " + code)));
  });
}

export function launchBrowser() {
  return chromium.launch({ executablePath: "/usr/bin/chromium", args: FLAGS });
}
