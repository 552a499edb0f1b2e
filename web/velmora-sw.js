// Velmora's service worker: every file of the site is kept at the first
// visit, and the page is served from there, so that it loads and plays with
// no network at all. The build fills in the site's files and a digest of
// them (scripts/web_site.py). A new site is a new worker: it fetches its
// files beside the old ones and waits, while a page of the old one is open,
// for the next start (no skipWaiting), so a night is never changed under way.
"use strict";
const VERSION = "";
const FILES = [];
const CACHE = "velmora-" + VERSION;

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(caches.keys().then((names) => Promise.all(
    names.filter((name) => name.startsWith("velmora-") && name !== CACHE)
      .map((name) => caches.delete(name)))));
});

// The site's own files from the cache (the page's words in its address do
// not make it another file); anything else from the network, as without us.
self.addEventListener("fetch", (event) => {
  if (event.request.method !== "GET") return;
  event.respondWith(caches.open(CACHE).then(async (cache) => {
    const kept = await cache.match(event.request, { ignoreSearch: true });
    return kept || fetch(event.request);
  }));
});
