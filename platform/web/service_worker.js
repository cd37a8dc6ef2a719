// The site for offline use: every file is cached on the first visit, and
// every request is answered from the cache when it can be. The build writes
// this file's cache name from a hash of the site's files, so an updated
// site changes it: the browser then installs the new worker, which caches
// the new files and deletes the old cache, and the visit after that is
// served the new version.
"use strict";

// A prefix of the worker's own scope, so that two copies of the site on one
// host (at two paths) keep their caches apart.
const PREFIX = "queltravine " + self.registration.scope + " ";
const CACHE = PREFIX + "@SITE_HASH@";
const FILES = [@SITE_FILES@];

self.addEventListener("install", (event) => {
  // Past the browser's HTTP cache, so that the new version is what is kept.
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll(FILES.map((name) => new Request(name, { cache: "reload" }))))
    .then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name.startsWith(PREFIX) && name !== CACHE)
                                      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

self.addEventListener("fetch", (event) => {
  if (event.request.method !== "GET") return;
  // The page's options (?autostart, ?render=N, ?embed) are the same page.
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(event.request, { ignoreSearch: true }))
    .then((cached) => cached || fetch(event.request)));
});
