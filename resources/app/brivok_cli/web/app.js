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

// The app keeps every key once saved; a value can be cleared by saving it empty.
function savePref(key, value) {
  if (!post({ action: "setPref", key, value })) return false;
  prefs[key] = value;
  showPrefs();
  return true;
}

function showPrefs() {
  const body = document.querySelector("#prefs tbody");
  body.replaceChildren();
  const keys = Object.keys(prefs).sort();
  if (keys.length === 0) {
    const row = body.insertRow();
    const cell = row.insertCell();
    cell.colSpan = 3;
    cell.textContent = "No preferences are stored yet.";
  }
  for (const key of keys) {
    const row = body.insertRow();
    row.insertCell().textContent = key;
    row.insertCell().textContent = prefs[key] === "" ? "(empty)" : prefs[key];
    const clear = document.createElement("button");
    clear.type = "button";
    clear.textContent = "Clear";
    clear.disabled = prefs[key] === "";
    clear.addEventListener("click", () => {
      if (savePref(key, "")) document.getElementById("pref-note").textContent = "Cleared “" + key + "”.";
    });
    row.insertCell().append(clear);
  }
}

function clock(seconds) {
  return seconds ? new Date(seconds * 1000).toLocaleTimeString() : "—";
}

function failed(job) {
  return job.state === "done" && job.outcome && !job.outcome.ok;
}

function outcomeText(job) {
  const o = job.outcome;
  if (!o) return job.state === "done" ? "No report came back." : "";
  if (!o.ok) return "Failed: " + (o.error || "the app gave no reason.");
  if (job.kind === "render") {
    return (o.title || "(no title)") + " — " + o.final_url + " — " + o.length + " characters\n" +
      (o.first_lines || []).join("\n");
  }
  const names = o.cookie_names || [];
  return "signed in at " + o.final_url + "; cookies: " + (names.length ? names.join(", ") : "none") +
    (o.error ? " (" + o.error + ")" : "");
}

function showJobs(jobs) {
  const body = document.querySelector("#jobs tbody");
  body.replaceChildren();
  if (jobs.length === 0) {
    const cell = body.insertRow().insertCell();
    cell.colSpan = 4;
    cell.textContent = "No jobs yet. Pages to read and sign-ins asked for here or by your agents show up here.";
  }
  for (const job of jobs.slice().reverse()) {
    const row = body.insertRow();
    row.insertCell().textContent = (job.kind === "render" ? "Read " : "Sign in to ") + job.url +
      (job.key ? " (key " + job.key + ")" : "");
    const state = row.insertCell();
    state.textContent = failed(job) ? "failed" : job.state;
    if (failed(job)) state.className = "failed";
    row.insertCell().textContent = "queued " + clock(job.queued_at) + ", started " +
      clock(job.started_at) + ", finished " + clock(job.finished_at);
    const outcome = row.insertCell();
    outcome.style.whiteSpace = "pre-wrap";
    outcome.textContent = outcomeText(job);
  }
}

// The note under the job forms follows the last job queued here until it ends.
let lastQueued = null;
function followLastJob(jobs) {
  const job = lastQueued && jobs.find((j) => j.job === lastQueued);
  if (!job) return;
  const note = document.getElementById("job-note");
  if (job.state === "queued") note.textContent = "Queued.";
  else if (job.state === "running") note.textContent = "Running…";
  else {
    note.textContent = failed(job) ? "The job failed: " + (job.outcome.error || "no reason given") + "."
      : "Done.";
    lastQueued = null;
  }
}

async function refreshJobs() {
  try {
    const jobs = (await api("/api/jobs")).jobs;
    showJobs(jobs);
    followLastJob(jobs);
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
  note.textContent = savePref(key, value)
    ? "Saved “" + key + "”."
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
    note.textContent = "Asked the app to open it in your browser.";
  } else {
    window.open(url, "_blank", "noopener");
  }
});

async function queueJob(job) {
  const note = document.getElementById("job-note");
  try {
    lastQueued = (await api("/api/jobs", job)).job;
    note.textContent = "Queued.";
  } catch (e) {
    note.textContent = "The job was not queued: " + e.message;
  }
  refreshJobs();
}
document.getElementById("job-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const url = document.getElementById("job-url").value;
  const key = document.getElementById("job-key").value;
  const text = document.getElementById("job-cookies").value.trim();
  let cookies = [];
  if (text) {
    try {
      cookies = JSON.parse(text);
    } catch (e) {
      document.getElementById("job-note").textContent = "The cookies are not a JSON list.";
      return;
    }
  }
  queueJob({ kind: "render", url, key, cookies });
});
document.getElementById("again-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const value = (id) => document.getElementById(id).value;
  const domains = value("again-domains").split(",").map((d) => d.trim()).filter((d) => d);
  queueJob({ kind: "signin", url: value("again-url"), key: value("again-key"),
    username: value("again-user"), password: value("again-password"),
    login_pattern: value("again-pattern") || "login", domains });
  document.getElementById("again-password").value = "";
});

// Sign-in: the app answers through window.brivokSignedIn. The password never reaches the page text.
const signins = new Map();
function showSignIns() {
  const list = document.getElementById("signins");
  list.replaceChildren();
  for (const [id, entry] of signins) {
    const item = document.createElement("li");
    const answer = entry.answer;
    let text = entry.url + " — ";
    if (!answer) text += "waiting for the sign-in window";
    else if (answer.cancelled) text += "cancelled";
    else if (answer.error) text += "failed: " + answer.error;
    else {
      const names = (answer.cookies || []).map((c) => c.name);
      text += "signed in. " + (names.length ? "Cookies handed over: " + names.join(", ") + ". "
        : "No cookies of the listed sites were handed over. ") +
        (answer.login ? "The app will remember this login to sign in again by itself."
          : answer.remember ? "No login was typed, so there is none to remember."
            : "The login will not be remembered.");
    }
    item.textContent = text;
    item.dataset.id = id;
    list.append(item);
  }
}
window.brivokSignedIn = (answer) => {
  if (!answer || !signins.has(answer.id)) return;
  signins.get(answer.id).answer = answer;
  showSignIns();
};
let nextSignIn = 1;
document.getElementById("signin-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const url = document.getElementById("signin-url").value;
  const title = document.getElementById("signin-title-text").value || "Sign in";
  const key = document.getElementById("signin-key").value;
  const domains = document.getElementById("signin-domains").value
    .split(",").map((d) => d.trim()).filter((d) => d);
  const id = "signin-" + nextSignIn++;
  if (!post({ action: "signin", id, url, title, domains, key })) return;
  signins.set(id, { url });
  showSignIns();
});
document.getElementById("forget-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const key = document.getElementById("forget-key").value;
  document.getElementById("forget-note").textContent = post({ action: "forgetSignIn", key })
    ? "The sign-in of “" + key + "” was forgotten."
    : "Sign-ins can only be forgotten in the Brivok app.";
});

// Paths: the app answers through window.brivokPickedPaths, with [] when the chooser was cancelled.
window.brivokPickedPaths = (paths) => {
  const list = document.getElementById("paths");
  list.replaceChildren();
  if (!Array.isArray(paths) || paths.length === 0) {
    const item = document.createElement("li");
    item.textContent = "Nothing was chosen.";
    list.append(item);
    return;
  }
  for (const path of paths) {
    const item = document.createElement("li");
    item.textContent = path;
    list.append(item);
  }
};
document.getElementById("pick").addEventListener("click", () => post({ action: "pickPaths" }));

// Tarvel: the app places its view over the region; a moved region is posted again.
let tarvelShown = false;
function postTarvel(reload) {
  const r = document.getElementById("tarvel-region").getBoundingClientRect();
  post({ action: "tarvel", visible: tarvelShown, rect: [r.x, r.y, r.width, r.height], reload });
}
document.getElementById("tarvel-show").addEventListener("click", () => { tarvelShown = true; postTarvel(false); });
document.getElementById("tarvel-hide").addEventListener("click", () => { tarvelShown = false; postTarvel(false); });
document.getElementById("tarvel-reload").addEventListener("click", () => { tarvelShown = true; postTarvel(true); });
document.getElementById("tarvel-grow").addEventListener("click", () => {
  document.getElementById("tarvel-region").classList.toggle("tall");
  if (tarvelShown) postTarvel(false);
});
let tarvelFrame = 0;
function followRegion() {
  if (!tarvelShown || tarvelFrame) return;
  tarvelFrame = requestAnimationFrame(() => { tarvelFrame = 0; postTarvel(false); });
}
window.addEventListener("scroll", followRegion, { passive: true });
window.addEventListener("resize", followRegion);

refreshJobs();
setInterval(refreshJobs, 2000);
api("/api/page/state", { native, prefs }).catch(() => {});
