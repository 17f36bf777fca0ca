# Packs one export archive: cmake -DMANIFEST=m.txt -DSTAGE=dir -DTOP=folder -DARCHIVE=out.zip -P this.
# Each manifest line is "source<TAB>path inside the top folder". Files are stamped with one fixed time
# and added in sorted order, so that the same sources always give the same archive, byte for byte.
file(STRINGS ${MANIFEST} lines)
file(REMOVE_RECURSE ${STAGE})
foreach(line IN LISTS lines)
    string(REPLACE "\t" ";" pair "${line}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    get_filename_component(folder ${STAGE}/${TOP}/${target} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    configure_file(${source} ${STAGE}/${TOP}/${target} COPYONLY)
endforeach()
file(GLOB_RECURSE files RELATIVE ${STAGE} ${STAGE}/*)
list(SORT files)
execute_process(COMMAND touch -h -d 2026-01-01T00:00:00Z ${files} WORKING_DIRECTORY ${STAGE}
                RESULT_VARIABLE touched)
file(REMOVE ${ARCHIVE})
execute_process(COMMAND zip -X -D -q ${ARCHIVE} ${files} WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE zipped)
if(NOT touched EQUAL 0 OR NOT zipped EQUAL 0)
    message(FATAL_ERROR "packing ${ARCHIVE} failed")
endif()
