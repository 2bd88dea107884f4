# The update key of a signed build. PARLEX_UPDATE_PUBLIC_KEY takes an ECDSA
# P-256 public key as
#   - PEM text ("-----BEGIN PUBLIC KEY-----" ... as sign-update writes it),
#   - the path of such a PEM file, or
#   - the 65-byte uncompressed point in hex (130 digits starting with 04;
#     blanks and colons are ignored), as sign-update's update-public.hex.
# Empty: the build installs updates unsigned, as before.
#
# parlex_update_key_literal(VALUE OUT) sets OUT to a C string literal body of
# the 65 point bytes ("\x04\x..."), empty for an empty VALUE, and stops the
# configuration for anything that is not a P-256 public key.

# The DER of a P-256 SubjectPublicKeyInfo up to the point: SEQUENCE,
# AlgorithmIdentifier (id-ecPublicKey, prime256v1), BIT STRING of 66 bytes.
set(PARLEX_P256_SPKI_PREFIX "3059301306072a8648ce3d020106082a8648ce3d030107034200")

function(parlex_base64_to_hex text out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(REGEX REPLACE "=+$" "" text "${text}")
  string(LENGTH "${text}" length)
  set(hex "")
  set(bits 0)
  set(count 0)
  if(length GREATER 0)
    math(EXPR last "${length} - 1")
    foreach(i RANGE ${last})
      string(SUBSTRING "${text}" ${i} 1 c)
      string(FIND "${alphabet}" "${c}" v)
      if(v LESS 0)
        message(FATAL_ERROR "PARLEX_UPDATE_PUBLIC_KEY: the PEM holds a character that is not base64: \"${c}\"")
      endif()
      math(EXPR bits "((${bits} << 6) | ${v}) & 0xFFFF")
      math(EXPR count "${count} + 6")
      if(count GREATER_EQUAL 8)
        math(EXPR count "${count} - 8")
        math(EXPR byte "(${bits} >> ${count}) & 0xFF" OUTPUT_FORMAT HEXADECIMAL)
        string(SUBSTRING "${byte}" 2 -1 byte)
        string(LENGTH "${byte}" digits)
        if(digits EQUAL 1)
          set(byte "0${byte}")
        endif()
        string(APPEND hex "${byte}")
      endif()
    endforeach()
  endif()
  string(TOLOWER "${hex}" hex)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

function(parlex_update_key_literal value out)
  if(value STREQUAL "")
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  set(text "${value}")
  if(NOT text MATCHES "-----BEGIN" AND EXISTS "${text}")
    file(READ "${text}" text)
  endif()
  if(text MATCHES "-----BEGIN PUBLIC KEY-----(.*)-----END PUBLIC KEY-----")
    string(REGEX REPLACE "[ \t\r\n]" "" body "${CMAKE_MATCH_1}")
    parlex_base64_to_hex("${body}" der)
    string(LENGTH "${der}" digits)
    string(FIND "${der}" "${PARLEX_P256_SPKI_PREFIX}" at)
    if(NOT digits EQUAL 182 OR NOT at EQUAL 0)
      message(FATAL_ERROR "PARLEX_UPDATE_PUBLIC_KEY: not an ECDSA P-256 public key with an uncompressed point")
    endif()
    string(SUBSTRING "${der}" 52 130 point)
  elseif(text MATCHES "-----BEGIN")
    message(FATAL_ERROR "PARLEX_UPDATE_PUBLIC_KEY: only a PUBLIC KEY PEM is taken (never the private key)")
  else()
    string(REGEX REPLACE "[ \t\r\n:]" "" point "${text}")
    string(TOLOWER "${point}" point)
  endif()
  if(NOT point MATCHES "^04[0-9a-f]+$")
    message(FATAL_ERROR "PARLEX_UPDATE_PUBLIC_KEY: neither a PEM public key, a PEM file nor a point in hex")
  endif()
  string(LENGTH "${point}" digits)
  if(NOT digits EQUAL 130)
    message(FATAL_ERROR "PARLEX_UPDATE_PUBLIC_KEY: a P-256 point is 65 bytes (130 hex digits), not ${digits} digits")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" literal "${point}")
  set(${out} "${literal}" PARENT_SCOPE)
endfunction()
