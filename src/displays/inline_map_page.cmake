# Builds the map page as one self-contained file: the page template with the map library's style
# sheet and script inlined. Without the library the page still loads and says what is missing.
#   cmake -DTEMPLATE=map.html -DCSS=leaflet.css -DJS=leaflet.js -DOUT=page.html -P inline_map_page.cmake
file(READ "${TEMPLATE}" page)
set(css "")
set(js "")
if(EXISTS "${CSS}" AND EXISTS "${JS}")
  file(READ "${CSS}" css)
  file(READ "${JS}" js)
  # The source map is not shipped.
  string(REGEX REPLACE "//# sourceMappingURL=[^\n]*" "" js "${js}")
endif()
string(REPLACE "/*@LEAFLET_CSS@*/" "${css}" page "${page}")
string(REPLACE "/*@LEAFLET_JS@*/" "${js}" page "${page}")
file(WRITE "${OUT}.tmp" "${page}")
file(RENAME "${OUT}.tmp" "${OUT}")
