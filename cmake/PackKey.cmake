# The key pair that signs the resource pack. The public half is compiled into the program;
# the private half signs web/ at build time and never goes into the repository.
set(ORVANDEL_PACK_PRIVATE_KEY "" CACHE FILEPATH
    "RSA private key (PEM) that signs the resource pack; generated into the build folder when empty")
find_program(OPENSSL_COMMAND openssl REQUIRED)

set(PACK_KEYS_DIR ${CMAKE_BINARY_DIR}/keys)
file(MAKE_DIRECTORY ${PACK_KEYS_DIR})
if(ORVANDEL_PACK_PRIVATE_KEY)
  set(PACK_PRIVATE_KEY ${ORVANDEL_PACK_PRIVATE_KEY})
else()
  set(PACK_PRIVATE_KEY ${PACK_KEYS_DIR}/pack-private.pem)
  if(NOT EXISTS ${PACK_PRIVATE_KEY})
    execute_process(
      COMMAND ${OPENSSL_COMMAND} genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048
              -out ${PACK_PRIVATE_KEY}
      RESULT_VARIABLE key_result OUTPUT_QUIET ERROR_VARIABLE key_error)
    if(NOT key_result EQUAL 0)
      message(FATAL_ERROR "cannot generate the pack key: ${key_error}")
    endif()
  endif()
endif()

set(PACK_PUBLIC_KEY ${PACK_KEYS_DIR}/pack-public.pem)
execute_process(
  COMMAND ${OPENSSL_COMMAND} pkey -in ${PACK_PRIVATE_KEY} -pubout -out ${PACK_PUBLIC_KEY}
  RESULT_VARIABLE key_result OUTPUT_QUIET ERROR_VARIABLE key_error)
if(NOT key_result EQUAL 0)
  message(FATAL_ERROR "cannot read the pack key ${PACK_PRIVATE_KEY}: ${key_error}")
endif()

# The public key as a table in which every second byte is a character of its PEM text; the
# bytes between are filler.
file(READ ${PACK_PUBLIC_KEY} key_hex HEX)
string(LENGTH "${key_hex}" key_hex_length)
set(key_table "")
set(filler 91)
math(EXPR key_last "${key_hex_length} - 2")
foreach(i RANGE 0 ${key_last} 2)
  string(SUBSTRING "${key_hex}" ${i} 2 byte)
  math(EXPR filler "(${filler} * 37 + 11) % 251")
  math(EXPR filler_hex "${filler}" OUTPUT_FORMAT HEXADECIMAL)
  string(APPEND key_table "${filler_hex}, 0x${byte}, ")
endforeach()
set(PACK_PUBLIC_KEY_SOURCE ${CMAKE_BINARY_DIR}/generated/PackPublicKeyTable.cpp)
file(WRITE ${PACK_PUBLIC_KEY_SOURCE}.new
"// Generated from ${PACK_PUBLIC_KEY}; do not edit.
#include \"content/PackPublicKey.h\"

namespace content {
namespace {
const std::uint8_t kTable[] = {${key_table}};
}  // namespace

std::span<const std::uint8_t> packPublicKeyTable() { return kTable; }

}  // namespace content
")
configure_file(${PACK_PUBLIC_KEY_SOURCE}.new ${PACK_PUBLIC_KEY_SOURCE} COPYONLY)
