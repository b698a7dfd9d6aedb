# One check, CHECK, of the tree that install.cmake put under ROOT (prefix PREFIX).
set(usr "${ROOT}${PREFIX}")
set(app_id example.quillora.QuilloraLite)
set(sizes 16 22 24 32 48 64 128 256)

function(require_tool)
  if(NOT TOOL OR NOT EXISTS "${TOOL}")
    message(FATAL_ERROR "validator not found (${TOOL}): run scripts/deps.sh")
  endif()
endfunction()

# files(VAR GLOB): the files matching GLOB below usr, failing on none.
function(files var pattern)
  file(GLOB found "${usr}/${pattern}")
  if(NOT found)
    message(FATAL_ERROR "nothing installed as ${PREFIX}/${pattern}")
  endif()
  set(${var} ${found} PARENT_SCOPE)
endfunction()

if(CHECK STREQUAL "contents")
  # Exactly these: no test, tool, benchmark or the local service.
  set(expected
      bin/quilloralite
      share/applications/${app_id}.desktop
      share/applications/${app_id}.Conserva.desktop
      share/metainfo/${app_id}.metainfo.xml
      share/icons/hicolor/scalable/apps/quilloralite.svg)
  foreach(size ${sizes})
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/quilloralite.png)
  endforeach()
  file(GLOB_RECURSE installed LIST_DIRECTORIES false "${ROOT}/*")
  list(TRANSFORM expected PREPEND "${usr}/")
  list(SORT expected)
  list(SORT installed)
  if(NOT installed STREQUAL expected)
    string(REPLACE ";" "\n  " got "${installed}")
    string(REPLACE ";" "\n  " want "${expected}")
    message(FATAL_ERROR "installed:\n  ${got}\nexpected:\n  ${want}")
  endif()
  # if(IS_EXECUTABLE) needs CMake 3.29; Debian 12 has 3.25.
  execute_process(COMMAND test -x "${usr}/bin/quilloralite" RESULT_VARIABLE not_executable)
  if(not_executable)
    message(FATAL_ERROR "${PREFIX}/bin/quilloralite is not executable")
  endif()

elseif(CHECK STREQUAL "icon_sizes")
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  foreach(size ${sizes})
    set(png "${usr}/share/icons/hicolor/${size}x${size}/apps/quilloralite.png")
    file(READ "${png}" signature LIMIT 8 HEX)
    file(READ "${png}" width OFFSET 16 LIMIT 4 HEX)
    file(READ "${png}" height OFFSET 20 LIMIT 4 HEX)
    math(EXPR width "0x${width}")
    math(EXPR height "0x${height}")
    if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
      message(FATAL_ERROR "${png}: ${width}x${height} (signature ${signature}), not ${size}x${size}")
    endif()
  endforeach()

elseif(CHECK STREQUAL "metainfo_content")
  file(READ "${usr}/share/metainfo/${app_id}.metainfo.xml" xml)
  # Releases are listed newest first.
  string(REGEX MATCH "<release version=\"([^\"]*)\"" newest "${xml}")
  if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "newest release is '${CMAKE_MATCH_1}', the project is ${VERSION}: "
                        "add a <release> to packaging/${app_id}.metainfo.xml.in")
  endif()
  string(REGEX REPLACE "/+$" "" home "${HOMEPAGE}")
  if(NOT xml MATCHES "<url type=\"homepage\">${home}</url>")
    message(FATAL_ERROR "homepage is not ${home}")
  endif()
  string(REGEX MATCHALL "<image>[^<]*</image>" images "${xml}")
  if(NOT images)
    message(FATAL_ERROR "no screenshot")
  endif()
  foreach(image ${images})
    string(REGEX REPLACE "</?image>" "" url "${image}")
    string(FIND "${url}" "${home}/screens/" at)
    get_filename_component(name "${url}" NAME)
    if(NOT at EQUAL 0 OR NOT EXISTS "${SCREENS}/${name}")
      message(FATAL_ERROR "screenshot ${url} is not one of docs/screens under ${home}/screens/")
    endif()
  endforeach()

elseif(CHECK STREQUAL "entries_valid")
  require_tool()
  files(entries "share/applications/*.desktop")
  foreach(entry ${entries})
    # Warnings and hints count as failures too.
    execute_process(COMMAND "${TOOL}" "${entry}" RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
      message(FATAL_ERROR "desktop-file-validate ${entry} (${rc}):\n${out}")
    endif()
    message(STATUS "valid: ${entry}")
  endforeach()

elseif(CHECK STREQUAL "metainfo_valid" OR CHECK STREQUAL "tree_valid")
  require_tool()
  # --strict fails on warnings and infos alike. The validator does not know the
  # TLD of example.quillora (the reserved .example domain), only that.
  set(options --no-net --strict --explain --override=cid-maybe-not-rdns=pedantic)
  if(CHECK STREQUAL "metainfo_valid")
    files(targets "share/metainfo/*.metainfo.xml")
    set(command validate)
  else()
    # Also checks that the launchable's desktop file and the icon are there.
    set(targets "${ROOT}")
    set(command validate-tree)
  endif()
  foreach(target ${targets})
    execute_process(COMMAND "${TOOL}" ${command} ${options} "${target}" RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "appstreamcli ${command} ${target} (${rc}):\n${out}")
    endif()
    message(STATUS "appstreamcli ${command} ${target}:\n${out}")
  endforeach()

else()
  message(FATAL_ERROR "unknown CHECK '${CHECK}'")
endif()
