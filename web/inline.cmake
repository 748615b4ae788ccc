# Writes OUTPUT, the console page as served: the skeleton INPUT with each marker
# line replaced by its part, <link rel="stylesheet" href="F"> by <style> holding F
# and <script src="F"></script> by <script> holding F (F relative to INPUT);
# <script src="F" data-worker></script> gives <script data-worker>, a part the
# page also hands to its picture worker. A part the build makes is looked for in
# GENERATED when INPUT's directory lacks it. Parts go in the order of their
# markers; nothing else may bring style or script.
get_filename_component(dir ${INPUT} DIRECTORY)
file(READ ${INPUT} page)
set(linkMarker "<link rel=\"stylesheet\" href=\"([^\"]+)\">")
set(scriptMarker "<script src=\"([^\"]+)\"( data-worker)?></script>")

# Left over after the markers go, a tag fetching or holding style or script is a
# marker written another way, and the browser would fetch a file the server lacks.
string(REGEX REPLACE "${linkMarker}|${scriptMarker}" "" bare "${page}")
string(TOLOWER "${bare}" bare)
if(bare MATCHES "<(link|script|style)[ >]")
  message(FATAL_ERROR "${INPUT}: \"${CMAKE_MATCH_0}\" is not a marker line; style and "
                      "script come in only as <link rel=\"stylesheet\" href=\"FILE\"> "
                      "or <script src=\"FILE\"></script>")
endif()

string(REGEX MATCHALL "${linkMarker}|${scriptMarker}" markers "${page}")
set(marked "")
foreach(marker IN LISTS markers)
  set(attributes "")
  if(marker MATCHES "^${linkMarker}$")
    set(tag style)
  elseif(marker MATCHES "^${scriptMarker}$")
    set(tag script)
    set(attributes "${CMAKE_MATCH_2}")
  endif()
  set(file ${CMAKE_MATCH_1})
  set(from ${dir})
  if(NOT EXISTS ${dir}/${file} AND DEFINED GENERATED AND EXISTS ${GENERATED}/${file})
    set(from ${GENERATED})
  endif()
  if(NOT EXISTS ${from}/${file})
    message(FATAL_ERROR "${INPUT}: ${marker} names a file that does not exist")
  endif()
  file(READ ${from}/${file} part)
  string(TOLOWER "${part}" lower)
  if(lower MATCHES "</${tag}")
    message(FATAL_ERROR "${from}/${file} holds \"</${tag}\", which would end its element early")
  endif()
  if(NOT part MATCHES "\n$")
    string(APPEND part "\n")
  endif()
  string(REPLACE "${marker}" "<${tag}${attributes}>\n${part}</${tag}>" page "${page}")
  get_filename_component(full ${from}/${file} ABSOLUTE)
  list(APPEND marked ${full})
endforeach()

# A part without a marker would silently be missing from the page.
file(GLOB parts ${dir}/*.css ${dir}/js/*.js)
foreach(part IN LISTS parts)
  list(FIND marked ${part} at)
  if(at EQUAL -1)
    file(RELATIVE_PATH name ${dir} ${part})
    message(FATAL_ERROR "${name} has no marker line in ${INPUT}")
  endif()
endforeach()

file(WRITE ${OUTPUT} "${page}")
