// Drives the web page in headless Chromium for tests/web_e2e.py:
//   node driver.mjs URL WIDTHxHEIGHT 'STEPS'
// STEPS is a JSON list of steps, run in order; prints one JSON object: what
// each step returned, and every error the page's console or scripts gave.
// The page's clock (performance.now) can be stood still at a demo time, so
// that a picture can be taken of a known frame.
import puppeteer from 'puppeteer-core';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [url, size, stepsText] = process.argv.slice(2);
const [width, height] = size.split('x').map(Number);
const steps = JSON.parse(stepsText);
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmira-chromium-'));
// Generous: the machine is shared and SwiftShader draws on the CPU.
const LONG = 120000;

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: profile,
  // WebGL comes from ANGLE on SwiftShader with Chromium's default GL flags.
  args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update',
         '--disable-sync', '--no-first-run', '--autoplay-policy=no-user-gesture-required'],
  defaultViewport: {width, height},
});
const errors = [];
const results = [];
try {
  const page = await browser.newPage();
  page.on('console', m => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', e => errors.push(String(e && e.message || e)));
  await page.evaluateOnNewDocument(() => {
    const real = performance.now.bind(performance);
    let frozen = null;
    performance.now = () => (frozen === null ? real() : frozen);
    window.pelmiraTestClock = ms => { frozen = ms; };
  });
  await page.goto(url, {waitUntil: 'load'});
  const frames = () => page.evaluate(() => (window.pelmira ? window.pelmira.status.frames : 0));
  const waitFor = (f, arg) => page.waitForFunction(f, {timeout: LONG, polling: 50}, arg);
  for (const step of steps) {
    switch (step.do) {
    case 'click':
      await page.click('#start');
      results.push(null);
      break;
    case 'waitFrames':
      await waitFor(n => window.pelmira && window.pelmira.status.frames >= n, step.n);
      results.push(await frames());
      break;
    case 'freeze': {
      // The show's t is (tick - start tick) ms; the tick is performance.now()
      // rounded down, so half a millisecond past the wanted one gives it.
      await waitFor(() => window.pelmira && window.pelmira.status.startTick !== undefined);
      const drawn = await frames();
      await page.evaluate(t => {
        const s = window.pelmira.status;
        window.pelmiraTestClock(s.startTick + Math.round(t * 1000) + 0.5);
      }, step.t);
      // Frames drawn since are of that time; the one on screen is too.
      await waitFor(n => window.pelmira.status.frames >= n, drawn + 3);
      results.push(null);
      break;
    }
    case 'shot': {
      const canvas = await page.$('#screen');
      await (canvas || page).screenshot({path: step.path});
      results.push(null);
      break;
    }
    case 'page':
      await page.screenshot({path: step.path});
      results.push(null);
      break;
    case 'viewport':
      await page.setViewport({width: step.width, height: step.height});
      results.push(null);
      break;
    case 'key':
      await page.keyboard.press(step.key);
      results.push(null);
      break;
    case 'waitEnded':
      await waitFor(() => !document.getElementById('start').hidden);
      results.push(await page.evaluate(() => ({
        prompt: document.getElementById('prompt').textContent,
        canvases: document.querySelectorAll('canvas').length,
      })));
      break;
    case 'sound':
      // The samples exactly as Web Audio holds them, back as 16-bit PCM.
      await waitFor(() => window.pelmira && window.pelmira.soundBuffer);
      results.push(await page.evaluate(() => {
        const buffer = window.pelmira.soundBuffer;
        const data = buffer.getChannelData(0);
        const pcm = new Int16Array(data.length);
        for (let i = 0; i < data.length; i++) pcm[i] = Math.round(data[i] * 32768);
        let text = '';
        const bytes = new Uint8Array(pcm.buffer);
        for (let i = 0; i < bytes.length; i += 0x8000)
          text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
        return {rate: buffer.sampleRate, channels: buffer.numberOfChannels, pcm: btoa(text)};
      }));
      break;
    case 'geometry':
      results.push(await page.evaluate(() => {
        const r = document.getElementById('screen').getBoundingClientRect();
        return {x: r.x, y: r.y, width: r.width, height: r.height,
                buffer: [document.getElementById('screen').width,
                         document.getElementById('screen').height]};
      }));
      break;
    case 'status':
      results.push(await page.evaluate(() => Object.assign({}, window.pelmira.status,
                                                            {now: performance.now()})));
      break;
    case 'wait':
      // Not a fixed sleep in a test: lets real time pass for a rate measured
      // by the bench.
      await new Promise(r => setTimeout(r, step.ms));
      results.push(null);
      break;
    case 'eval':
      await waitFor(step.until || 'true');
      results.push(await page.evaluate(step.expr));
      break;
    default:
      throw new Error('unknown step ' + step.do);
    }
  }
} catch (error) {
  errors.push('driver: ' + (error && error.message || error));
} finally {
  await browser.close();
  fs.rmSync(profile, {recursive: true, force: true});
}
process.stdout.write(JSON.stringify({results, errors}) + '\n');
