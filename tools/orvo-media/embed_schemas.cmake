# Writes OUTPUT, a header with the bytes of MASTER and PACK, so the tool
# carries the schemas it puts on the media.
#   cmake -DMASTER=... -DPACK=... -DOUTPUT=... -P embed_schemas.cmake
function(orvo_embed variable file out)
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" hex "${hex}")
  set(${out} "${${out}}const unsigned char ${variable}[] = {\n${hex}};\n" PARENT_SCOPE)
endfunction()
set(text "// Generated from samples/media by embed_schemas.cmake; do not edit.\n#pragma once\n")
orvo_embed(kMasterSchemaBytes ${MASTER} text)
orvo_embed(kPackSchemaBytes ${PACK} text)
file(WRITE ${OUTPUT}.tmp "${text}")
configure_file(${OUTPUT}.tmp ${OUTPUT} COPYONLY)
file(REMOVE ${OUTPUT}.tmp)
