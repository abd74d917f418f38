// report.js (written by the test) defines reportURL, the test's loopback server.
importScripts('report.js');

async function send(message) {
  try {
    return await chrome.runtime.sendNativeMessage('com.vantle.brindle', message);
  } catch (error) {
    return { nativeMessagingError: String((error && error.message) || error) };
  }
}

(async () => {
  const ping = await send({ action: 'ping' });
  const unknown = await send({ action: 'noSuchAction', requestId: 'chromium-1' });
  await fetch(reportURL, { method: 'POST', body: JSON.stringify({ ping, unknown }) });
})();
