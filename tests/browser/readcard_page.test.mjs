// Drives the default page in headless Chromium against the real zembra on its fixed port, both
// as the reader serves it ("/mainpage") and opened from another origin; and what the page says
// when the browser holds it back from this computer, or when the service is down.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdtempSync, readFileSync, readdirSync, readlinkSync, rmSync, writeFileSync }
  from "node:fs";
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
// A site that the browser takes for one on the public Internet, so that its pages reach this
// computer only with the user's leave (Local Network Access).
let publicSite;
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

// True when process pid holds the socket that listens on the port: the kernel's table of TCP
// sockets names the listening socket's inode, and the process's descriptors name their sockets.
function listensOn(pid, port) {
  const portHex = port.toString(16).toUpperCase().padStart(4, "0");
  const inodes = readFileSync("/proc/net/tcp", "utf8").split("\n").slice(1)
    .map((line) => line.trim().split(/\s+/))
    .filter((f) => f.length > 9 && f[1].endsWith(`:${portHex}`) && f[3] === "0A")
    .map((f) => `socket:[${f[9]}]`);
  try {
    return readdirSync(`/proc/${pid}/fd`).some((fd) => {
      try { return inodes.includes(readlinkSync(`/proc/${pid}/fd/${fd}`)); } catch (_) { return false; }
    });
  } catch (_) {
    return false;
  }
}

// Waits until the child exits ("exited") or listens on the port ("listening"). Another program
// that answers on the port instead fails the test by name.
async function waitForExitOrPort(child, deadlineMs) {
  const deadline = Date.now() + deadlineMs;
  while (Date.now() < deadline) {
    if (child.exitCode !== null || child.signalCode !== null) return "exited";
    if (listensOn(child.pid, PORT)) return "listening";
    if (await portAnswers() && !listensOn(child.pid, PORT)) {
      throw new Error(`port ${PORT} is held by another program, not by the zembra this test started`);
    }
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
  const servePage = (request, response) => {
    response.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
    response.end(readFileSync(PAGE_FILE));
  };
  otherSite = createServer(servePage);
  publicSite = createServer(servePage);
  await new Promise((resolve) => otherSite.listen(0, "127.0.0.1", resolve));
  await new Promise((resolve) => publicSite.listen(0, "127.0.0.1", resolve));
  context = await chromium.launchPersistentContext(join(workDir, "profile"), {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync",
           `--ip-address-space-overrides=127.0.0.1:${publicSite.address().port}=public`],
  });
});

after(async () => {
  await context?.close();
  otherSite?.close();
  publicSite?.close();
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

// Waits until the status shows a failure, and answers its reason and text.
async function failureShown(page) {
  await page.waitForFunction(() => (document.querySelector("#status")?.dataset.reason ?? "") !== "",
    null, { timeout: WAIT_MS });
  return { reason: await page.getAttribute("#status", "data-reason"),
           text: await page.textContent("#status") };
}

test("held back by the browser, the page says so and how to allow it", async (t) => {
  const origin = `http://127.0.0.1:${publicSite.address().port}`;
  const page = await context.newPage();
  const cdp = await context.newCDPSession(page);
  let denied = false;
  for (const name of ["loopback-network", "local-network-access"]) {
    try {
      await cdp.send("Browser.setPermission", { permission: { name }, setting: "denied", origin });
      denied = true;
    } catch (_) {
      // a permission this browser does not know
    }
  }
  if (!denied) {
    await page.close();
    t.skip("this browser has no Local Network Access permission that the test could deny");
    return;
  }
  await page.goto(`${origin}/readcard.html`);
  await page.click("#read");
  await page.waitForFunction(() => document.querySelector("#status")?.className !== "",
    null, { timeout: WAIT_MS });
  if ((await page.getAttribute("#status", "class")) === "ok" ||
      (await page.textContent("#status")).includes("读卡失败")) {
    await page.close();
    t.skip("this browser let a page of a public site reach this computer despite the denial");
    return;
  }
  const { reason, text } = await failureShown(page);
  assert.equal(reason, "blocked", text);
  assert.match(text, /浏览器阻止了本页访问这台电脑上的读卡服务 http:\/\/localhost:19196/);
  assert.match(text, /网站设置/);
  assert.match(text, /LoopbackNetworkAllowedForUrls/);
  assert.match(text, /LocalNetworkAccessAllowedForUrls/);
  if (ARTIFACTS) await page.screenshot({ path: join(ARTIFACTS, "readcard-page-blocked.png") });
  await page.close();
});

test("the page only ever asks the reader for its own routes", () => {
  assert.ok(requestedPaths.length > 0);
  for (const path of requestedPaths) assert.ok(ROUTES.includes(path), `unexpected request ${path}`);
});

test("with the service down, the page says that it is not running", async () => {
  await stopZembra();
  const page = await newPage(`http://127.0.0.1:${otherSite.address().port}/readcard.html`);
  await page.click("#open");
  const { reason, text } = await failureShown(page);
  assert.equal(reason, "not-running", text);
  assert.match(text, /无法连接读卡服务 http:\/\/localhost:19196：读卡服务没有运行/);
  await page.close();
});
