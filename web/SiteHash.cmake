# Writes the page's service worker (sw.js) from its template, its cache named for this build of
# the site: a hash of the files it keeps, so that any change to one of them is a new worker with a
# new cache. Run at build time, after the programs are linked.
# Usage: cmake -Dsite=DIR -Dtemplate=FILE -Dfiles=NAME,NAME... -P SiteHash.cmake
string(REPLACE "," ";" files "${files}")
set(hashes "")
set(names "")
foreach(file IN LISTS files)
  file(SHA256 ${site}/${file} hash)
  string(APPEND hashes "${file} ${hash}\n")
  list(APPEND names "'${file}'")
endforeach()
string(SHA256 SITE_HASH "${hashes}")
string(SUBSTRING ${SITE_HASH} 0 16 SITE_HASH)
list(JOIN names ", " SITE_FILES)
configure_file(${template} ${site}/sw.js @ONLY)
