# Writes the site's service worker (SITE/sw.js) from its template: the list
# of the site's files and a cache name made of their hash. Run as
#   cmake -DSITE=... -DTEMPLATE=... -DFILES=a,b,... -P site-worker.cmake
string(REPLACE "," ";" FILES "${FILES}")
set(hashes "")
set(quoted "\"./\"")
foreach(name IN LISTS FILES)
  file(SHA256 ${SITE}/${name} hash)
  string(APPEND hashes "${name} ${hash}\n")
  string(APPEND quoted ", \"${name}\"")
endforeach()
string(SHA256 site_hash "${hashes}")
string(SUBSTRING ${site_hash} 0 16 site_hash)
file(READ ${TEMPLATE} worker)
string(REPLACE "@SITE_HASH@" ${site_hash} worker "${worker}")
string(REPLACE "@SITE_FILES@" "${quoted}" worker "${worker}")
file(WRITE ${SITE}/sw.js "${worker}")
