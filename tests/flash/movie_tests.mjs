// Plays the built shell movie in a real Flash runtime (Ruffle in headless
// chromium) and drives it with the player's own invoke requests.
//
//   node movie_tests.mjs <QZFPlayer.swf> <web deps folder> <work folder> <chromium> [ffmpeg]
//
// Every case gets its own player on one shared page: Ruffle needs several
// seconds before a movie answers, so the cases wait for it together.
import { execFileSync } from "node:child_process";
import { existsSync, mkdirSync, readFileSync, statSync } from "node:fs";
import http from "node:http";
import { createRequire } from "node:module";
import { dirname, extname, join } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const [moviePath, webDir, workDir, chromiumPath, ffmpeg = "ffmpeg"] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const started = Date.now();
const DEADLINE_MS = 55000;

function die(message) {
  console.error("FAIL: " + message);
  process.exit(1);
}
if (!chromiumPath)
  die("usage: movie_tests.mjs <movie> <web deps folder> <work folder> <chromium> [ffmpeg]");
if (!existsSync(moviePath))
  die(`the shell movie ${moviePath} is missing: build first`);

// ---- the requests, as the Flash engine sends them -------------------------

const request = (name) => `<invoke name="${name}"></invoke>`;
const event = (name, n) =>
  `<invoke name="sendEvent"><arguments><string>${name}</string>` +
  (n === undefined ? "" : `<number>${n}</number>`) + `</arguments></invoke>`;

const TAIL = "&overstretch=true&showdigits=true&autostart=true&showplayerbar=false&callback=true" +
  "&enablejs=true&streamscript=http://";

// The file value is escaped like the engine does, so that "&" and its kin
// stay inside it; the rest goes as it stands.
function escapeFileValue(value) {
  const map = { "%": "%25", "&": "%26", "#": "%23", "+": "%2B", " ": "%20", "\t": "%09" };
  return [...value].map((c) => map[c] ?? c).join("");
}

// The source goes as given (servers compare paths and query tokens with
// their case); only the "HTTP://" test reads an uppercased copy.
function movieAddress(base, source, { autostart = true } = {}) {
  const upper = source.replace(/[a-z]/g, (c) => c.toUpperCase());
  let tail = upper.includes("HTTP://") ? TAIL : TAIL.replace("showdigits=true", "showdigits=false")
    .replace("&streamscript=http://", "");
  if (!autostart)
    tail = tail.replace("autostart=true", "autostart=false");
  return `${base}/art/QZFPlayer.swf?file=` + escapeFileValue(source) + tail;
}

// ---- media ----------------------------------------------------------------

const mediaDir = join(workDir, "media");
mkdirSync(mediaDir, { recursive: true });
const picture = (seconds) => ["-f", "lavfi", "-i", `testsrc=size=160x120:rate=25:duration=${seconds}`];
const tone = (seconds) => ["-f", "lavfi", "-i", `sine=frequency=440:sample_rate=44100:duration=${seconds}`];
const MEDIA = {
  "Clip.flv": [...picture(3), ...tone(3), "-c:v", "flv1", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100"],
  "Silent.flv": [...picture(3), "-an", "-c:v", "flv1"],
  // Long enough to pause, resume and seek inside it.
  "Long.flv": [...picture(8), ...tone(8), "-c:v", "flv1", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100"],
  "Clip.mp4": [...picture(3), ...tone(3), "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
    "-movflags", "+faststart"],
};
for (const [name, args] of Object.entries(MEDIA)) {
  const out = join(mediaDir, name);
  if (existsSync(out) && statSync(out).size > 0 && statSync(out).mtimeMs > statSync(fileURLToPath(import.meta.url)).mtimeMs)
    continue;
  try {
    execFileSync(ffmpeg, ["-hide_banner", "-loglevel", "error", "-y", ...args, out], { stdio: "pipe" });
  } catch (e) {
    die(`ffmpeg could not make ${name}: ${e.stderr || e.message}`);
  }
}

// ---- the server -----------------------------------------------------------

const rufflePath = join(webDir, "node_modules", "@ruffle-rs", "ruffle");
if (!existsSync(join(rufflePath, "ruffle.js")))
  die(`Ruffle is not installed in ${webDir}: run scripts/setup.sh`);
const TYPES = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
  ".swf": "application/x-shockwave-flash", ".flv": "video/x-flv", ".mp4": "video/mp4", ".map": "application/json" };
const requested = [];

const server = http.createServer((req, res) => {
  requested.push(req.url);
  const path = decodeURIComponent(req.url.split("?")[0]);
  let file = null;
  if (path === "/")
    file = join(here, "page.html");
  else if (path === "/art/QZFPlayer.swf")
    file = moviePath;
  else if (path.startsWith("/ruffle/") && !path.includes(".."))
    file = join(rufflePath, path.slice("/ruffle/".length));
  else if (path.startsWith("/MEDIA/") && !path.includes(".."))
    file = join(mediaDir, path.slice("/MEDIA/".length));
  if (!file || !existsSync(file)) {
    res.writeHead(404, { "Content-Type": "text/plain" });
    res.end("not found");
    return;
  }
  res.writeHead(200, { "Content-Type": TYPES[extname(file).toLowerCase()] || "application/octet-stream",
    "Cache-Control": "no-store" });
  res.end(readFileSync(file));
});

// ---- the runtime ----------------------------------------------------------

let browser = null;
async function cleanUp() {
  if (browser) {
    const b = browser;
    browser = null;
    await b.close().catch(() => b.process()?.kill("SIGKILL"));
  }
  server.close();
  server.closeAllConnections?.();
}
const watchdog = setTimeout(async () => {
  console.error(`FAIL: not finished after ${DEADLINE_MS / 1000} s`);
  await cleanUp();
  process.exit(1);
}, DEADLINE_MS);
for (const sig of ["SIGINT", "SIGTERM"])
  process.on(sig, async () => { await cleanUp(); process.exit(1); });

await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
const base = `http://127.0.0.1:${server.address().port}`;

let puppeteer;
try {
  const resolved = createRequire(join(webDir, "package.json")).resolve("puppeteer-core");
  puppeteer = (await import(pathToFileURL(resolved).href)).default;
} catch (e) {
  await cleanUp();
  die(`puppeteer-core is not installed in ${webDir} (${e.message}): run scripts/setup.sh`);
}
try {
  browser = await puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    // No sandbox: tests run as root here. Sound must start without a click.
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--mute-audio",
      "--autoplay-policy=no-user-gesture-required"],
  });
} catch (e) {
  await cleanUp();
  die(`chromium could not start (${chromiumPath}): ${e.message.split("\n")[0]}. It is installed by scripts/setup.sh.`);
}

const page = await browser.newPage();
const pageErrors = [];
page.on("pageerror", (e) => pageErrors.push(String(e)));
await page.goto(base + "/", { waitUntil: "load" });

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const call = (id, req) => page.evaluate((i, r) => callFunction(i, r), id, req);

// The player reads every answer as a number element: anything else fails,
// naming the request and what came back.
function wholeNumber(req, reply) {
  if (reply.missing || reply.type !== "number" || !Number.isInteger(reply.value))
    throw new Error(`${req} answered ${JSON.stringify(reply)}, not a whole number`);
  return reply.value;
}
const number = async (id, req) => wholeNumber(req, await call(id, req));

class Case {
  constructor(id, source, options = {}) {
    this.id = id;
    this.source = source;
    this.address = movieAddress(base, source, options);
    this.failures = [];
    this.states = [];
    this.seen = [];
  }
  check(ok, what) {
    if (!ok)
      this.failures.push(what);
    return ok;
  }
  async start() {
    this.loadedAt = Date.now();
    await page.evaluate((i, a) => addPlayer(i, a), this.id, this.address);
  }
  saw(s) {
    if (this.states[this.states.length - 1] !== s) {
      this.states.push(s);
      this.seen.push(`${s} (${((Date.now() - this.loadedAt) / 1000 - this.readyAfter).toFixed(1)} s)`);
    }
  }
  // The first request that answers marks the movie as ready.
  async ready() {
    while (Date.now() - this.loadedAt < 30000) {
      const reply = await call(this.id, request("getPlayState")).catch(() => ({ missing: true }));
      if (!reply.missing) {
        this.readyAfter = (Date.now() - this.loadedAt) / 1000;
        return true;
      }
      await sleep(100);
    }
    throw new Error("the callbacks did not answer within 30 s");
  }
  async state() {
    const s = await number(this.id, request("getPlayState"));
    this.saw(s);
    return s;
  }
  // The control bar's round: state, position and length in one go.
  async poll() {
    const reqs = [request("getPlayState"), request("getPosition"), request("getDuration")];
    const replies = await page.evaluate((i, rs) => rs.map((r) => callFunction(i, r)), this.id, reqs);
    const [s, position, duration] = replies.map((reply, k) => wholeNumber(reqs[k], reply));
    this.saw(s);
    return { state: s, position, duration };
  }
  position() { return number(this.id, request("getPosition")); }
  duration() { return number(this.id, request("getDuration")); }
  send(name, n) { return call(this.id, event(name, n)); }
  // Polls the state until it is `want`, for at most `ms`.
  async until(want, ms) {
    const end = Date.now() + ms;
    for (;;) {
      if ((await this.state()) === want)
        return true;
      if (Date.now() > end)
        return false;
      await sleep(200);
    }
  }
}

// A file played from start to end with autostart, as the player does it.
async function playsToTheEnd(c, seconds) {
  await c.ready();
  const first = await c.state();
  c.check(first === 1, `state ${first} at the first answer, not 1 (playing)`);
  let duration = 0, positions = [];
  const end = Date.now() + (seconds + 8) * 1000;
  while (Date.now() < end) {
    const { state, position, duration: d } = await c.poll();
    if (state === 0)
      break;
    c.check(state === 1, `state ${state} while the file plays`);
    duration = Math.max(duration, d);
    positions.push(position);
    await sleep(200);
  }
  c.check(c.states[c.states.length - 1] === 0, `state never turned 0 at the end (sequence ${c.states})`);
  c.check(duration === seconds, `duration ${duration}, not ${seconds}`);
  c.check(positions.every((p, i) => i === 0 || p >= positions[i - 1]), `positions went back: ${positions}`);
  c.check(Math.max(...positions) > Math.min(...positions), `position did not advance: ${positions}`);
  await sleep(500);
  c.check((await c.state()) === 0, "state left 0 after the end");
  c.check((await c.position()) === 0, "position not 0 after the end");
}

const cases = [];
function add(id, source, options, body) {
  const c = new Case(id, source, options);
  c.body = body;
  cases.push(c);
  return c;
}

add("clip", `${base}/MEDIA/Clip.flv`, {}, (c) => playsToTheEnd(c, 3));
add("silent", `${base}/MEDIA/Silent.flv`, {}, (c) => playsToTheEnd(c, 3));

add("mp4", `${base}/MEDIA/Clip.mp4`, {}, async (c) => {
  await c.ready();
  // Played or not, it must come to rest in 0, or the playlist would wait for ever.
  c.check(await c.until(0, 15000), `an MP4 never reached state 0 (sequence ${c.states})`);
  c.played = c.states.includes(1) && (await c.duration()) > 0;
});

add("missing", `${base}/MEDIA/Missing.flv`, {}, async (c) => {
  await c.ready();
  c.check(await c.until(0, 12000), `a missing file did not end in state 0 (sequence ${c.states})`);
  await sleep(500);
  c.check((await c.state()) === 0, "a missing file left state 0 again");
});

add("query", `${base}/MEDIA/Clip.flv?id=1&Key=aB`, {}, async (c) => {
  await c.ready();
  c.check(await c.until(1, 3000) || c.states.includes(1), `state ${c.states}, never 1`);
  const want = "/MEDIA/Clip.flv?id=1&Key=aB"; // as given: paths and tokens keep their case
  const end = Date.now() + 5000;
  while (!requested.includes(want) && Date.now() < end)
    await sleep(200);
  c.check(requested.includes(want), `the server never saw ${want}; it saw ${requested.filter((u) => u.startsWith("/MEDIA/"))}`);
  await c.until(0, 8000);
});

// The engine's full screen is a Home key press on the focused control;
// the control allows full screen, so the page's player does too.
add("fullscreen", `${base}/MEDIA/Silent.flv`, { autostart: false }, async (c) => {
  await c.ready();
  const shown = () => page.evaluate(() => document.fullscreenElement?.id ?? "none");
  await page.click("#fullscreen");
  await page.keyboard.press("End");
  await sleep(800);
  c.check((await shown()) === "none", "another key than Home changed to full screen");
  await page.keyboard.press("Home");
  await sleep(800);
  const full = await shown();
  c.check(full === "fullscreen", `Home did not switch to full screen (full screen element: ${full})`);
  await page.keyboard.press("Home");
  await sleep(800);
  c.check((await shown()) === "none", "a second Home did not leave full screen");
  c.check((await c.state()) === 0, "the keys changed the state");
});

add("controls", `${base}/MEDIA/Long.flv`, { autostart: false }, async (c) => {
  await c.ready();
  // The movie has two frames: it reaches the last one (ActionScript counts
  // from 1, the control's FrameNum from 0) and stays there.
  const frame = () => number(c.id, request("getFrame"));
  let f = await frame();
  for (const end = Date.now() + 3000; f < 2 && Date.now() < end; f = await frame())
    await sleep(100);
  c.check(f === 2, `the movie shows frame ${f}, not its last one (2)`);
  await sleep(600);
  c.check((await frame()) === 2, "the movie left its last frame");
  c.check((await c.state()) === 0, "not 0 before playing with autostart false");
  await sleep(1000);
  c.check((await c.state()) === 0, "started by itself with autostart false");

  await c.send("playpause");
  c.check(await c.until(1, 2000), `playpause from 0 did not play (sequence ${c.states})`);
  // Positions may stall and then jump by a second: allow for it.
  let now = await c.poll();
  for (const end = Date.now() + 4000; now.position < 1 && Date.now() < end; now = await c.poll())
    await sleep(200);
  c.check(now.position >= 1, `position still ${now.position} after 4 s of playing`);
  c.check(now.duration === 8, `duration ${now.duration}, not 8`);

  await c.send("playpause");
  c.check((await c.state()) === 2, "playpause while playing did not pause");
  const paused = await c.position();
  await sleep(1200);
  const later = await c.position();
  c.check(later === paused, `position moved from ${paused} to ${later} while paused`);
  c.check((await c.state()) === 2, "pause did not hold");

  await c.send("playpause");
  c.check((await c.state()) === 1, "playpause while paused did not resume");
  await c.send("position", 5);
  await sleep(600);
  const after = await c.position();
  c.check(after >= 4 && after <= 7, `position ${after} after a seek to 5`);
  c.check((await c.state()) === 1, "a seek changed the state");

  const reply = await c.send("volume", 30);
  c.check(!reply.missing, "volume not accepted");
  await c.send("volume", 0);
  await c.send("volume", 100);
  c.check((await c.state()) === 1, "volume changed the state");

  await c.send("stop");
  c.check((await c.state()) === 0, "stop did not stop");
  c.check((await c.position()) === 0, "position not 0 after stop");
  await sleep(600);
  c.check((await c.state()) === 0, "stop did not hold");
});

let failed = 0;
try {
  for (const c of cases)
    await c.start();
  await Promise.all(cases.map((c) => c.body(c).catch((e) => c.failures.push(e.message))));
  for (const c of cases) {
    const ready = c.readyAfter === undefined ? "never" : `${c.readyAfter.toFixed(1)} s`;
    const extra = c.id === "mp4" ? (c.played ? " (played)" : " (did not play)") : "";
    console.log(`${c.id} ${c.source.slice(base.length)}: callbacks answered after ${ready}; states ${c.seen.join(", ")}${extra}`);
    for (const f of c.failures)
      console.log(`  FAIL ${c.id}: ${f}`);
    failed += c.failures.length;
  }
  for (const e of pageErrors)
    console.log(`  page error: ${e}`);
} catch (e) {
  console.log(`FAIL: ${e.message}`);
  failed++;
} finally {
  clearTimeout(watchdog);
  await cleanUp();
}
console.log(`${failed ? "FAILED" : "passed"} in ${((Date.now() - started) / 1000).toFixed(1)} s`);
process.exit(failed ? 1 : 0);
