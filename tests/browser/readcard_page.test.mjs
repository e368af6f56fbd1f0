// Drives the default page in headless Chromium against the real zembra on its fixed port, both
// as the reader serves it ("/mainpage") and opened from another origin.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import net from "node:net";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const ZEMBRA = process.env.ZEMBRA;
const ARTIFACTS = process.env.BROWSER_TEST_ARTIFACTS;
const PORT = 19196;
const READER = `http://127.0.0.1:${PORT}`;
const CARD_NAME = "浏览器样卡";
const ROUTES = ["/mainpage", "/opendevice", "/readcard", "/getsamid", "/closedevice"];
const WAIT_MS = 20000;
const PAGE_FILE = join(dirname(ZEMBRA ?? "."), "readcard.html");

let workDir;
let zembra;
let zembraOutput = "";
let context;
let otherSite;
const requestedPaths = [];

function portAnswers() {
  return new Promise((resolve) => {
    const socket = net.connect(PORT, "127.0.0.1");
    socket.once("connect", () => { socket.destroy(); resolve(true); });
    socket.once("error", () => resolve(false));
  });
}

function startProcess(args, env) {
  const child = spawn(ZEMBRA, args, { env, stdio: ["ignore", "pipe", "pipe"] });
  child.stdout.on("data", (d) => (zembraOutput += d));
  child.stderr.on("data", (d) => (zembraOutput += d));
  return child;
}

// Waits until the child exits ("exited") or the port answers ("listening").
async function waitForExitOrPort(child, deadlineMs) {
  const deadline = Date.now() + deadlineMs;
  while (Date.now() < deadline) {
    if (child.exitCode !== null || child.signalCode !== null) return "exited";
    if (await portAnswers()) return "listening";
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error(`zembra neither exited nor listened on ${PORT}:\n${zembraOutput}`);
}

// Registers zembra as a plain process under a registration root of the test's own, then starts
// it. A build whose program serves at once, switches or not, is used as it started.
async function startZembra(env) {
  const registering = startProcess(["-RegServer"], env);
  if ((await waitForExitOrPort(registering, 30000)) === "listening") {
    zembra = registering;
    return;
  }
  assert.equal(registering.exitCode, 0, `zembra -RegServer failed:\n${zembraOutput}`);
  zembra = startProcess([], env);
  const state = await waitForExitOrPort(zembra, 30000);
  assert.equal(state, "listening", `zembra exited early:\n${zembraOutput}`);
}

function stopZembra() {
  if (!zembra || zembra.exitCode !== null || zembra.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    const killer = setTimeout(() => zembra.kill("SIGKILL"), 5000);
    zembra.once("exit", () => { clearTimeout(killer); resolve(); });
    zembra.kill("SIGTERM");
  });
}

async function waitForText(page, selector, text) {
  await page.waitForFunction(
    ([s, t]) => (document.querySelector(s)?.textContent ?? "").includes(t),
    [selector, text], { timeout: WAIT_MS });
}

async function newPage(url) {
  const page = await context.newPage();
  page.on("request", (request) => {
    const u = new URL(request.url());
    if (u.port === String(PORT)) requestedPaths.push(u.pathname);
  });
  await page.goto(url);
  return page;
}

async function openAndReadShowsTheCard(page) {
  await page.click("#open");
  await waitForText(page, "#status", "打开成功");
  await page.click("#read");
  await waitForText(page, "#status", "读卡成功");
  assert.equal(await page.textContent("#partyName"), CARD_NAME);
  assert.equal(await page.textContent("#certNumber"), "990000199001010011");
  await page.waitForFunction(() => {
    const img = document.querySelector("#photo");
    return img && img.complete && img.naturalWidth === 102 && img.naturalHeight === 126;
  }, null, { timeout: WAIT_MS });
}

before(async () => {
  assert.ok(ZEMBRA, "ZEMBRA names the zembra program to test");
  assert.equal(await portAnswers(), false, `port ${PORT} is already taken by another program`);
  workDir = mkdtempSync(join(tmpdir(), "zembra-browser-"));
  const settings = join(workDir, "trovik-sim.conf");
  writeFileSync(settings, `card.name = ${CARD_NAME}\n`);
  await startZembra({
    ...process.env,
    TROVIK_SIM_CONFIG: settings,
    ZEMBRA_REGISTRY_ROOT: join(workDir, "registry"),
    // Registration removes an installed service first: never the machine's own.
    ZEMBRA_UNIT_DIR: join(workDir, "units"),
  });
  otherSite = createServer((request, response) => {
    response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
    response.end(readFileSync(PAGE_FILE));
  });
  await new Promise((resolve) => otherSite.listen(0, "127.0.0.1", resolve));
  context = await chromium.launchPersistentContext(join(workDir, "profile"), {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
});

after(async () => {
  await context?.close();
  otherSite?.close();
  await stopZembra();
  if (workDir) rmSync(workDir, { recursive: true, force: true });
});

test("a read before the reader is opened shows the answer's failure text", async () => {
  const page = await newPage(`${READER}/mainpage`);
  await page.click("#read");
  await waitForText(page, "#status", "读卡失败");
  assert.equal(await page.getAttribute("#status", "class"), "fail");
  assert.equal(await page.textContent("#partyName"), "");
  assert.equal(await page.$("#photo"), null);
  await page.close();
});

test("served by the reader, the page opens it and shows the card with its photo", async () => {
  const page = await newPage(`${READER}/mainpage`);
  await openAndReadShowsTheCard(page);
  if (ARTIFACTS) await page.screenshot({ path: join(ARTIFACTS, "readcard-page.png") });
  await page.click("#close");
  await waitForText(page, "#status", "关闭读卡器成功");
  await page.close();
});

// Another origin: a file:// URL, and a web server of its own that hands out the page.
for (const [where, url] of [
  ["a file", () => pathToFileURL(PAGE_FILE).href],
  ["another site", () => `http://127.0.0.1:${otherSite.address().port}/readcard.html`],
]) {
  test(`opened from ${where}, the page talks to the reader on this machine`, async () => {
    const page = await newPage(url());
    await openAndReadShowsTheCard(page);
    await page.click("#close");
    await waitForText(page, "#status", "关闭读卡器成功");
    await page.click("#read");
    await waitForText(page, "#status", "读卡失败");
    await page.close();
  });
}

test("the page only ever asks the reader for its own routes", () => {
  assert.ok(requestedPaths.length > 0);
  for (const path of requestedPaths) assert.ok(ROUTES.includes(path), `unexpected request ${path}`);
});
