# Makes the kit's links: <word>.k for each word to the kit's program, and
# vkc.k / vks.k to the two programs (a follow-up command VKS INVOKE runs vks).
string(REPLACE "," ";" WORDS "${WORDS}")
foreach(word ${WORDS})
  file(CREATE_LINK ${KIT} ${BIN}/${word}.k SYMBOLIC)
endforeach()
file(CREATE_LINK ${VKC} ${BIN}/vkc.k SYMBOLIC)
file(CREATE_LINK ${VKS} ${BIN}/vks.k SYMBOLIC)
