# cmake -DCMARK_GFM=<cmark-gfm> -DIN=<page.md> -DOUT=<page.html> -P render-html.cmake
#
# Renders one page of the user guide to a stand-alone HTML file: tables and
# autolinks as on the usual Markdown hosts, links to other pages (*.md)
# pointed at their HTML, the first heading as the title.

execute_process(COMMAND ${CMARK_GFM} --to html --unsafe --extension table --extension autolink
                        --extension strikethrough ${IN}
                OUTPUT_VARIABLE body RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmark-gfm failed on ${IN}")
endif()
string(REGEX REPLACE "href=\"([^\":#]*)\\.md([#\"])" "href=\"\\1.html\\2" body "${body}")

file(STRINGS ${IN} first_heading REGEX "^# " LIMIT_COUNT 1)
string(REGEX REPLACE "^# +" "" title "${first_heading}")
get_filename_component(ext ${IN} EXT)
set(lang ja)
if(ext MATCHES "\\.en\\.md$")
  set(lang en)
endif()

file(WRITE ${OUT} "<!DOCTYPE html>
<html lang=\"${lang}\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>${title}</title>
<style>
body { font-family: \"IPAPGothic\", \"Noto Sans CJK JP\", sans-serif; max-width: 52em; margin: 2em auto; padding: 0 1em; line-height: 1.6; color: #222; }
h1, h2, h3 { line-height: 1.3; }
h2 { border-bottom: 1px solid #ccc; padding-bottom: .2em; margin-top: 2em; }
code, pre { font-family: \"IPAGothic\", \"Noto Sans Mono CJK JP\", monospace; background: #f4f4f4; }
pre { padding: .6em .8em; overflow-x: auto; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #ccc; padding: .3em .6em; vertical-align: top; }
th { background: #eee; }
img { max-width: 100%; border: 1px solid #ddd; }
</style>
</head>
<body>
${body}</body>
</html>
")
