# The editor page: our page files plus the Ace modules it uses, laid out in
# ${PROJECT_BINARY_DIR}/resources/ace/ (index.html at the top, Ace under lib/), which the app copies
# into its "Editor" folder at launch. Ace comes from resources/node_modules/ace-builds (pinned in
# resources/package-lock.json; scripts/setup runs `npm ci`). The comparison page (compare.html) adds
# ace-diff and the diff-match-patch it runs on (pinned there too), under lib/ace-diff/.
#
# Included from src/platform/web/CMakeLists.txt. Defines the target `editor_page` (built with ALL)
# and the variable DRAVIX_EDITOR_PAGE_DIR.

set(dravix_page_src ${CMAKE_CURRENT_LIST_DIR})
set(dravix_ace_dir ${PROJECT_SOURCE_DIR}/resources/node_modules/ace-builds/src-min-noconflict)
set(dravix_acediff_dir ${PROJECT_SOURCE_DIR}/resources/node_modules/ace-diff/dist)
set(dravix_dmp_file ${PROJECT_SOURCE_DIR}/resources/node_modules/@sanity/diff-match-patch/dist/index.cjs)
set(dravix_acediff_inputs ${dravix_acediff_dir}/ace-diff.min.js ${dravix_acediff_dir}/ace-diff.min.css)
set(DRAVIX_EDITOR_PAGE_DIR ${PROJECT_BINARY_DIR}/resources/ace CACHE INTERNAL "Where the build lays out the editor page")

if((NOT EXISTS ${dravix_ace_dir}/ace.js OR NOT EXISTS ${dravix_acediff_dir}/ace-diff.min.js)
   AND EXISTS ${PROJECT_SOURCE_DIR}/resources/package-lock.json)
  find_program(DRAVIX_NPM npm)
  if(DRAVIX_NPM)
    message(STATUS "editor page: installing resources/node_modules (npm ci)")
    execute_process(COMMAND ${DRAVIX_NPM} ci --no-audit --no-fund
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/resources
                    RESULT_VARIABLE dravix_npm_rc OUTPUT_QUIET)
  endif()
endif()

if(NOT EXISTS ${dravix_ace_dir}/ace.js)
  message(WARNING "editor page: ${dravix_ace_dir} is missing; the editor page is not built "
                  "(run scripts/setup or `npm ci` in resources/)")
  return()
endif()

if(NOT EXISTS ${dravix_acediff_dir}/ace-diff.min.js OR NOT EXISTS ${dravix_dmp_file})
  message(WARNING "editor page: ace-diff is missing from resources/node_modules; the editor page is not built "
                  "(run scripts/setup or `npm ci` in resources/)")
  return()
endif()

set(dravix_page_files index.html editor.js editor.css compare.html compare.js compare.css)

# Ace: the core, the extensions the page loads up front, the modes of the editable file types,
# every theme the app offers, and the snippets the language tools look up for those modes.
set(dravix_ace_modules ext-language_tools ext-beautify ext-searchbox)
set(dravix_ace_languages html php css scss sass less javascript text)
foreach(lang IN LISTS dravix_ace_languages)
  list(APPEND dravix_ace_modules mode-${lang})
endforeach()
set(dravix_ace_themes
  chrome clouds crimson_editor dawn dreamweaver eclipse github iplastic solarized_light textmate
  tomorrow xcode kuroir katzenmilch sqlserver ambiance chaos clouds_midnight dracula cobalt gruvbox
  gob idle_fingers kr_theme merbivore merbivore_soft mono_industrial monokai nord_dark one_dark
  pastel_on_dark solarized_dark terminal tomorrow_night tomorrow_night_blue tomorrow_night_bright
  tomorrow_night_eighties twilight vibrant_ink)
foreach(theme IN LISTS dravix_ace_themes)
  list(APPEND dravix_ace_modules theme-${theme})
endforeach()

set(dravix_page_inputs "")
foreach(f IN LISTS dravix_page_files)
  list(APPEND dravix_page_inputs ${dravix_page_src}/${f})
endforeach()
set(dravix_ace_inputs ${dravix_ace_dir}/ace.js)
foreach(m IN LISTS dravix_ace_modules)
  list(APPEND dravix_ace_inputs ${dravix_ace_dir}/${m}.js)
endforeach()
set(dravix_snippet_inputs "")
foreach(lang IN LISTS dravix_ace_languages)
  list(APPEND dravix_snippet_inputs ${dravix_ace_dir}/snippets/${lang}.js)
endforeach()

set(dravix_page_stamp ${CMAKE_CURRENT_BINARY_DIR}/editor_page.stamp)
add_custom_command(
  OUTPUT ${dravix_page_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${DRAVIX_EDITOR_PAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DRAVIX_EDITOR_PAGE_DIR}/lib/snippets
  COMMAND ${CMAKE_COMMAND} -E copy ${dravix_page_inputs} ${DRAVIX_EDITOR_PAGE_DIR}/
  COMMAND ${CMAKE_COMMAND} -E copy ${dravix_ace_inputs} ${DRAVIX_EDITOR_PAGE_DIR}/lib/
  COMMAND ${CMAKE_COMMAND} -E copy ${dravix_snippet_inputs} ${DRAVIX_EDITOR_PAGE_DIR}/lib/snippets/
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DRAVIX_EDITOR_PAGE_DIR}/lib/ace-diff
  COMMAND ${CMAKE_COMMAND} -E copy ${dravix_acediff_inputs} ${DRAVIX_EDITOR_PAGE_DIR}/lib/ace-diff/
  COMMAND ${CMAKE_COMMAND} -E copy ${dravix_dmp_file} ${DRAVIX_EDITOR_PAGE_DIR}/lib/ace-diff/diff-match-patch.js
  COMMAND ${CMAKE_COMMAND} -E touch ${dravix_page_stamp}
  DEPENDS ${dravix_page_inputs} ${dravix_ace_inputs} ${dravix_snippet_inputs} ${dravix_acediff_inputs} ${dravix_dmp_file}
          ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Laying out the editor page in ${DRAVIX_EDITOR_PAGE_DIR}"
  VERBATIM)
add_custom_target(editor_page ALL DEPENDS ${dravix_page_stamp})
