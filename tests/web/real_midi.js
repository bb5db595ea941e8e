// The page over the browser's own Web MIDI (no stand-in): headless Chromium, with the SysEx
// permission granted through the DevTools protocol, updates whatever device serves the file's
// ports on this machine, and must end with the verdict given.
// Usage: node real_midi.js SITE_DIR FILE EXPECTED_VERDICT
'use strict';
const driver = require('./driver');

const [site, file, verdict] = process.argv.slice(2);

async function main() {
  const { server, base } = await driver.serve({ '/': site });
  const browser = await driver.launch();
  const log = [];
  try {
    await browser.defaultBrowserContext().overridePermissions(base, ['midi', 'midi-sysex']);
    const tab = await browser.newPage();
    await tab.setViewport({ width: 548, height: 330 });
    tab.on('console', (message) => log.push(message.text()));
    tab.on('pageerror', (error) => log.push(`page error: ${error.message}`));
    await tab.goto(`${base}/index.html`, { timeout: 300000 });
    await tab.waitForSelector('body[data-state=idle]', { timeout: 300000 });
    const box = await driver.runUpdate(tab, file);
    driver.same(box.text, verdict, 'the verdict');
    console.log(`the page said: ${box.text}`);
  } catch (error) {
    console.log(`FAIL: ${error.message}\nthe page's log:\n  ${log.join('\n  ')}`);
    process.exitCode = 1;
  } finally {
    await browser.close();
    server.close();
  }
}

main();
