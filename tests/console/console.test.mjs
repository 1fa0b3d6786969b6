// The zarn console in a real browser: Debian's Chromium, driven by
// playwright-core, against a zarn-sim process with two drives and limit
// switches. What the page shows is checked against the drive itself, read
// over UDP by a socket of the test's own.
//
// node --test console.test.mjs, with ZARNCTL and ZARN_SIM set to the programs
// and CONSOLE_SCREENSHOT to where the screenshot for docs/console.md goes.
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import dgram from 'node:dgram';
import fs from 'node:fs';
import readline from 'node:readline';
import {after, before, test} from 'node:test';

let chromium;
try {
  ({chromium} = await import('playwright-core'));
} catch (e) {
  throw new Error('playwright-core is missing: run scripts/install-deps (npm ci in tests/console)');
}

const ZARNCTL = process.env.ZARNCTL;
const ZARN_SIM = process.env.ZARN_SIM;
const SCREENSHOT = process.env.CONSOLE_SCREENSHOT;
const LIMIT = 1000000;   // the limit switches of the virtual drives: -LIMIT and +LIMIT
const WAIT = 20000;      // the bound of every wait for the page: room for a loaded machine

const processes = [];
let browser, sim, consoleUrl, ports;
let page;  // the page most tests share, as a user keeps one open

// Starts a program; resolves with it and its first line of standard output.
function start(program, args) {
  const child = spawn(program, args, {stdio: ['ignore', 'pipe', 'inherit']});
  processes.push(child);
  const lines = readline.createInterface({input: child.stdout});
  return new Promise((resolve, reject) => {
    child.once('exit', (code) => reject(new Error(`${program} ended with ${code}`)));
    const seen = [];
    lines.on('line', (line) => {
      seen.push(line);
      resolve({child, lines: seen});
    });
  });
}

// One object of a drive of zarn-sim, read over UDP as the library reads it:
// the request body 2B 0D 00 00 00 index subindex; the value from byte 12,
// most significant byte first.
const socket = dgram.createSocket('udp4');
await new Promise((resolve) => socket.bind(0, '127.0.0.1', resolve));
let pending = null;
socket.on('message', (m) => {
  // A late reply to an earlier request is no answer to this one.
  if (pending && m.length >= 12 && m.subarray(5, 8).equals(pending.address)) pending.resolve(m);
});
async function readDrive(drive, index, sub, width, signed) {
  const address = Buffer.from([index >> 8, index & 0xff, sub]);
  const request = Buffer.concat([Buffer.from([0x2b, 0x0d, 0, 0, 0]), address]);
  for (let attempt = 0; attempt < 5; attempt++) {
    const reply = new Promise((resolve) => {
      pending = {address, resolve};
      setTimeout(() => resolve(null), 1000);
    });
    socket.send(request, ports[drive], '127.0.0.1');
    const m = await reply;
    pending = null;
    if (!m) continue;
    if (width === 4) return signed ? m.readInt32BE(12) : m.readUInt32BE(12);
    return signed ? m.readInt16BE(12) : m.readUInt16BE(12);
  }
  throw new Error(`drive ${drive} did not answer the read of ${index.toString(16)}:${sub}`);
}
const velocity = (drive) => readDrive(drive, 0x606c, 0, 4, true);
const position = (drive) => readDrive(drive, 0x6064, 0, 4, true);

async function until(what, check, timeout = WAIT, pause = 20) {
  const end = Date.now() + timeout;
  for (;;) {
    if (await check()) return;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, pause));
  }
}

// How long the axis takes to come to rest (velocity 0 on the drive) after `from`.
async function msUntilStill(drive, from) {
  await until(`drive ${drive} to stand still`, async () => (await velocity(drive)) === 0, 5000, 5);
  return Date.now() - from;
}

async function openPage(url = consoleUrl) {
  const context = await browser.newContext({viewport: {width: 1400, height: 1000}, acceptDownloads: true});
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e.message));
  await page.goto(url);
  await page.locator('#drive-1', {hasText: 'connected'}).waitFor({timeout: WAIT});
  return page;
}

// A state field as the page shows it: read back from the drive.
const shown = (page, name) => page.locator(`#state dd[data-name="${name}"]`);

async function enable(page, drive) {
  await page.click(`#drive-${drive}`);
  await page.click('#enable');
  await assertShown(page, 'servo on', 'yes');
}

async function assertShown(page, name, text) {
  try {
    await page.locator(`#state dd[data-name="${name}"]`, {hasText: text}).waitFor({timeout: WAIT});
  } catch (e) {
    const errors = await page.locator('#errors').innerText();
    const state = await page.locator('#state').innerText();
    throw new Error(`the page does not show ${name}: ${text}\nstate: ${state}\nerrors: ${errors}`);
  }
}

// Holds a jog button down (the pointer is not moved, so nothing else lets it go)
// until the drive moves.
async function holdJog(page, drive, button) {
  await page.locator(button).dispatchEvent('pointerdown');
  await until(`drive ${drive} to jog`, async () => (await velocity(drive)) !== 0);
}

async function downloadOf(page, button) {
  const [download] = await Promise.all([page.waitForEvent('download', {timeout: WAIT}), page.click(button)]);
  return fs.readFileSync(await download.path());
}

before(async () => {
  sim = await start(ZARN_SIM, ['--udp', '127.0.0.1:0', '--drives', '1,2', '--limits', `${-LIMIT}:${LIMIT}`]);
  await until('zarn-sim to list its drives', () => sim.lines.length >= 2, 10000);
  ports = {};
  for (const line of sim.lines) {
    const m = /^drive (\d+): udp 127\.0\.0\.1:(\d+)/.exec(line);
    if (m) ports[m[1]] = Number(m[2]);
  }
  const ctl = await start(ZARNCTL, ['console', '--udp', `127.0.0.1:${ports[1]}`, '--udp', `127.0.0.1:${ports[2]}`,
    '--drive', '1', '--drive', '2', '--listen', '127.0.0.1:0', '--json']);
  consoleUrl = JSON.parse(ctl.lines[0]).url;
  // launch() gives the browser a fresh profile folder of its own (--user-data-dir), removed on close.
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
  socket.close();
  for (const p of processes.reverse()) {
    if (p.exitCode !== null) continue;
    const ended = new Promise((resolve) => p.once('exit', resolve));
    p.kill('SIGINT');
    await ended;
  }
});

test('the page loads with both drives, their state and the object map', async () => {
  page = await openPage();
  await page.locator('#drive-2', {hasText: 'connected'}).waitFor({timeout: WAIT});
  await assertShown(page, 'servo on', 'no');
  await page.locator('#param-ActualPosition td', {hasText: '0x6064:00'}).waitFor({timeout: WAIT});
  await page.locator('#param-ProfileVelocity input').waitFor({timeout: WAIT});
  assert.deepEqual(page.errors, []);
});

test('the scope shows the position moving during a move started from the page', async () => {
  await enable(page, 1);
  const start = await position(1);
  await page.selectOption('#move-mode', 'relative');
  await page.fill('#move-target', '200000');
  await page.fill('#move-velocity', '100000');
  await page.click('#move');
  // While the axis travels, the scope's readout follows it between the two ends.
  await page.waitForFunction(([a, b]) => {
    const p = Number(document.getElementById('read-position').textContent);
    return p > a + 20000 && p < b - 20000;
  }, [start, start + 200000], {timeout: WAIT, polling: 10});
  await page.locator('#read-position', {hasText: String(start + 200000)}).waitFor({timeout: WAIT});
  await assertShown(page, 'in position', 'yes');
  if (SCREENSHOT) await page.screenshot({path: SCREENSHOT});

  await page.click('#scope-pause');
  const csv = (await downloadOf(page, '#scope-csv')).toString().trim().split('\n');
  assert.equal(csv[0], 'time_ms,position,velocity,torque');
  const rows = csv.slice(1).map((l) => l.split(',').map(Number));
  const moving = rows.filter((r) => r[1] > start && r[1] < start + 200000);
  assert.ok(moving.length > 50, `${moving.length} samples during the move`);
  for (let i = 1; i < moving.length; i++) assert.ok(moving[i][1] >= moving[i - 1][1], 'the position only rises');
  assert.ok(moving.some((r) => r[2] > 0), 'the velocity is shown too');
  // At least 50 samples a second: the median gap is 20 ms or less.
  const gaps = moving.slice(1).map((r, i) => r[0] - moving[i][0]).sort((a, b) => a - b);
  assert.ok(gaps[gaps.length >> 1] <= 20, `median sample gap ${gaps[gaps.length >> 1]} ms`);
  const png = await downloadOf(page, '#scope-png');
  assert.equal(png.subarray(1, 4).toString(), 'PNG');
  await page.click('#scope-pause');
  assert.deepEqual(page.errors, []);
});

test('a parameter edited in the table is read back from the drive', async () => {
  const row = page.locator('#param-PositionWindow');
  await row.locator('input').fill('0x19');
  await row.locator('button', {hasText: 'Write'}).click();
  await page.locator('#param-PositionWindow.written').waitFor({timeout: WAIT});
  assert.equal(await row.locator('input').inputValue(), '25');
  assert.equal(await readDrive(1, 0x6067, 0, 4, false), 25);
  // A value out of the object's range is stopped on the page and never sent.
  const time = page.locator('#param-PositionWindowTime');
  const before = await readDrive(1, 0x6068, 0, 2, false);
  await time.locator('input').fill('70000');
  await time.locator('button', {hasText: 'Write'}).click();
  await page.locator('#errors', {hasText: 'u16 takes 0 to 65535'}).waitFor({timeout: WAIT});
  assert.ok(await time.locator('input.invalid').count());
  assert.equal(await readDrive(1, 0x6068, 0, 2, false), before);
});

test('the emergency stop button and the Escape key stop a jog', async () => {
  await enable(page, 1);
  await holdJog(page, 1, '#jog-plus');
  await page.click('#estop');
  const byButton = await msUntilStill(1, Date.now());
  await assertShown(page, 'emergency stop', 'yes');
  await assertShown(page, 'servo on', 'no');
  // The button stops every drive of the console, not only the one shown.
  assert.equal((await readDrive(2, 0x211f, 0, 2, false)) & 0x400, 0x400);

  await page.click('#estop-release');
  await assertShown(page, 'emergency stop', 'no');
  await enable(page, 1);
  await holdJog(page, 1, '#jog-minus');
  await page.keyboard.press('Escape');
  const byKey = await msUntilStill(1, Date.now());
  await assertShown(page, 'emergency stop', 'yes');
  assert.ok(byButton < 1000 && byKey < 1000, `stopped after ${byButton} ms and ${byKey} ms`);
  await page.click('#estop-release');
  await assertShown(page, 'emergency stop', 'no');
});

test('losing the page during a jog stops the axis within 1 s', async () => {
  // Closed: nothing more comes from the page.
  let lost = await openPage();
  await enable(lost, 1);
  await holdJog(lost, 1, '#jog-plus');
  let from = Date.now();
  await lost.context().close();
  const closed = await msUntilStill(1, from);
  // Its network gone: the page is open but none of its requests (the stop either) arrive.
  lost = await openPage();
  await enable(lost, 1);
  await holdJog(lost, 1, '#jog-minus');
  from = Date.now();
  await lost.context().setOffline(true);
  const offline = await msUntilStill(1, from);
  assert.ok(closed < 1000 && offline < 1000, `stopped ${closed} ms after closing, ${offline} ms after going offline`);
  await lost.context().setOffline(false);
  await lost.locator('#jog-state', {hasText: 'no heartbeat from the page'}).waitFor({timeout: WAIT});
  await lost.context().close();
});

test('an alarm from a limit switch appears and is reset from the page', async () => {
  await page.click('#drive-2');
  await assertShown(page, 'emergency stop', 'yes');  // left by the emergency stop of every drive
  await page.click('#estop-release');
  await assertShown(page, 'emergency stop', 'no');
  await enable(page, 2);
  await page.selectOption('#move-mode', 'absolute');
  await page.fill('#move-target', String(LIMIT * 2));
  await page.fill('#move-velocity', '2000000');
  await page.fill('#move-acceleration', '10000000');
  await page.fill('#move-deceleration', '10000000');
  await page.click('#move');
  await page.locator('#alarm-current', {hasText: 'alarm 0xFF11'}).waitFor({timeout: WAIT});
  await page.locator('#alarm-history li', {hasText: 'AL-FF11 positive limit'}).waitFor({timeout: WAIT});
  await page.locator('#drive-2', {hasText: 'ALARM 0xFF11'}).waitFor({timeout: WAIT});
  assert.equal((await readDrive(2, 0x2121, 0, 2, false)) & 2, 2);

  await page.click('#alarm-reset');
  await page.locator('#alarm-current', {hasText: 'none'}).waitFor({timeout: WAIT});
  assert.equal((await readDrive(2, 0x2121, 0, 2, false)) & 2, 0);
  await assertShown(page, 'servo on', 'no');  // a reset does not energise the motor again
});

test('beyond loopback the page needs the token', async () => {
  const ctl = await start(ZARNCTL, ['console', '--sim', '--listen', '0.0.0.0:0', '--json']);
  const started = JSON.parse(ctl.lines[0]);
  const url = `http://127.0.0.1:${started.port}/`;
  const context = await browser.newContext();
  const bare = await context.newPage();
  assert.equal((await bare.goto(url)).status(), 401);
  await context.close();
  // With the token, the page and everything it asks for (files, API, events) pass.
  const admitted = await openPage(`${url}?token=${started.token}`);
  await assertShown(admitted, 'servo on', 'no');
  assert.equal(new URL(admitted.url()).search, '', 'the token leaves the address bar');
  await admitted.context().close();
});
