"use strict";

const native = window.brivokNative === true;
const prefs = window.brivokPrefs && typeof window.brivokPrefs === "object" ? window.brivokPrefs : {};

function post(message) {
  if (!native) return false;
  window.webkit.messageHandlers.brivok.postMessage(message);
  return true;
}

async function api(path, body) {
  const init = body === undefined ? {} : {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body) };
  const reply = await fetch(path, { credentials: "same-origin", ...init });
  if (!reply.ok) throw new Error("The backend answered " + reply.status + ".");
  return reply.json();
}

function showPrefs() {
  const body = document.querySelector("#prefs tbody");
  body.replaceChildren();
  const keys = Object.keys(prefs).sort();
  if (keys.length === 0) {
    const row = body.insertRow();
    const cell = row.insertCell();
    cell.colSpan = 2;
    cell.textContent = "No preferences are stored yet.";
  }
  for (const key of keys) {
    const row = body.insertRow();
    row.insertCell().textContent = key;
    row.insertCell().textContent = prefs[key];
  }
}

function showJobs(jobs) {
  const list = document.getElementById("jobs");
  list.replaceChildren();
  for (const job of jobs.slice().reverse()) {
    const item = document.createElement("li");
    let text = job.url + " — " + job.state;
    const report = job.report;
    if (report && report.ok && report.result) {
      text += ": " + (report.result.title || "(no title)") + ", " + String(report.result.text || "").length + " characters";
    } else if (report && !report.ok) {
      text += ": " + (report.error || "failed");
    }
    item.textContent = text;
    list.append(item);
  }
}

async function refreshJobs() {
  try {
    showJobs((await api("/api/jobs")).jobs);
  } catch (e) {
    /* the next refresh tries again */
  }
}

document.getElementById("where").textContent = native
  ? "Running in the Brivok app."
  : "Running in a browser: the app's abilities are not available here.";
showPrefs();

document.getElementById("pref-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const key = document.getElementById("pref-key").value;
  const value = document.getElementById("pref-value").value;
  const note = document.getElementById("pref-note");
  note.textContent = post({ action: "setPref", key, value })
    ? "Saved. Reload the page to see it."
    : "Preferences can only be saved in the Brivok app.";
});
document.getElementById("reload").addEventListener("click", () => location.reload());

document.getElementById("link-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const url = document.getElementById("link-url").value;
  const note = document.getElementById("link-note");
  if (!url.startsWith("https://")) {
    note.textContent = "Only https addresses can be opened.";
  } else if (post({ action: "openExternal", url })) {
    note.textContent = "Sent to your browser.";
  } else {
    window.open(url, "_blank", "noopener");
  }
});

document.getElementById("job-form").addEventListener("submit", async (event) => {
  event.preventDefault();
  const url = document.getElementById("job-url").value;
  const key = document.getElementById("job-key").value;
  try {
    await api("/api/jobs", { kind: "render", url, key });
  } catch (e) {
    /* shown by the next refresh */
  }
  refreshJobs();
});

refreshJobs();
setInterval(refreshJobs, 2000);
api("/api/page/state", { native, prefs }).catch(() => {});
