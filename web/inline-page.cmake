# Makes the one-file page: the page template with the release version, its
# style and its script (the engine's WebAssembly as base64, the engine's
# generated module, then the page's own scripts in the order given) put inline, and a
# Content-Security-Policy that allows exactly that style and that script by
# their SHA-256 hashes.
#   cmake -DTEMPLATE=page.html -DVERSION=1.2.3 -DSTYLE=page.css -DENGINE=engine.js
#         -DENGINE_WASM=engine.wasm
#         "-DSCRIPTS=bridge.js;reading.js;details.js;report.js;choosing.js;page.js"
#         -DOUTPUT=dumpscan.html
#         -P inline-page.cmake

cmake_policy(VERSION 3.25)

foreach(variable TEMPLATE VERSION STYLE ENGINE ENGINE_WASM SCRIPTS OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "inline-page.cmake: ${variable} is not set")
  endif()
endforeach()

# Base64 of the bytes written as `hex` (two hex digits a byte).
function(hex_base64 hex out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" digits)
  math(EXPR whole "${digits} / 6 * 6")
  set(result "")
  if(whole GREATER 0)
    math(EXPR last "${whole} - 6")
    foreach(start RANGE 0 ${last} 6)
      string(SUBSTRING "${hex}" ${start} 6 group)
      math(EXPR value "0x${group}")
      foreach(shift 18 12 6 0)
        math(EXPR index "(${value} >> ${shift}) & 63")
        string(SUBSTRING "${alphabet}" ${index} 1 char)
        string(APPEND result "${char}")
      endforeach()
    endforeach()
  endif()
  math(EXPR rest "${digits} - ${whole}")
  if(rest EQUAL 4)  # two bytes: three characters and one "="
    string(SUBSTRING "${hex}" ${whole} 4 group)
    math(EXPR value "0x${group} << 2")
    set(shifts 12 6 0)
    set(padding "=")
  elseif(rest EQUAL 2)  # one byte: two characters and "=="
    string(SUBSTRING "${hex}" ${whole} 2 group)
    math(EXPR value "0x${group} << 4")
    set(shifts 6 0)
    set(padding "==")
  else()
    set(shifts "")
    set(padding "")
  endif()
  foreach(shift IN LISTS shifts)
    math(EXPR index "(${value} >> ${shift}) & 63")
    string(SUBSTRING "${alphabet}" ${index} 1 char)
    string(APPEND result "${char}")
  endforeach()
  set(${out} "${result}${padding}" PARENT_SCOPE)
endfunction()

# Base64 of the SHA-256 of `text`, the form a CSP hash source takes.
function(sha256_base64 text out)
  string(SHA256 hex "${text}")
  hex_base64("${hex}" result)
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

file(READ "${TEMPLATE}" page)
file(READ "${STYLE}" style)
file(READ "${ENGINE}" engine)
file(READ "${ENGINE_WASM}" wasm_hex HEX)
hex_base64("${wasm_hex}" wasm_base64)
string(STRIP "${engine}" engine)
set(script "\nconst DUMPSCAN_WASM = '${wasm_base64}';\n${engine}\n")
foreach(script_file IN LISTS SCRIPTS)
  file(READ "${script_file}" text)
  string(APPEND script "${text}\n")
endforeach()
# Inline text must not end its own element early.
if(script MATCHES "</[sS][cC][rR][iI][pP][tT]" OR style MATCHES "</[sS][tT][yY][lL][eE]")
  message(FATAL_ERROR "inline-page.cmake: the script or style holds its own end tag")
endif()
sha256_base64("${script}" script_hash)
sha256_base64("${style}" style_hash)
foreach(token VERSION SCRIPT_HASH STYLE_HASH STYLE SCRIPT)
  string(FIND "${page}" "@${token}@" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "inline-page.cmake: the template has no @${token}@")
  endif()
endforeach()
# The version first, in the template alone: the style and the script stay
# the bytes their hashes were taken of.
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@SCRIPT_HASH@" "sha256-${script_hash}" page "${page}")
string(REPLACE "@STYLE_HASH@" "sha256-${style_hash}" page "${page}")
string(REPLACE "@STYLE@" "${style}" page "${page}")
string(REPLACE "@SCRIPT@" "${script}" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
