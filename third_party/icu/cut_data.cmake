# Cuts ICU's common data down to the items the project reads and writes it as an object file that
# defines the data entry point the static ICU libraries look for.
#   cmake -DARCHIVE=libicudata.a -DITEMS=data_items.txt -DMAJOR=72 -DOUTPUT=dir/x.o -DAR=ar
#         -DOBJCOPY=objcopy -DICUPKG=icupkg -DGENCCODE=genccode -DWORK=dir -P cut_data.cmake
set(name icudt${MAJOR}l)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/full ${WORK}/items ${WORK}/cut)

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${out}")
  endif()
endfunction()

# Debian ships the full data only inside libicudata, as one read-only section of its object.
run(${AR} x ${ARCHIVE})
file(GLOB member ${WORK}/*.o)
list(LENGTH member count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one object in ${ARCHIVE}, found: ${member}")
endif()
run(${OBJCOPY} -O binary -j .rodata ${member} ${WORK}/full/${name}.dat)

# The item list has comments; icupkg takes one name a line.
file(STRINGS ${ITEMS} lines)
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line)
    string(APPEND names "${line}\n")
  endif()
endforeach()
file(WRITE ${WORK}/items.txt "${names}")
run(${ICUPKG} -x ${WORK}/items.txt ${WORK}/full/${name}.dat -d ${WORK}/items)
run(${ICUPKG} -a ${WORK}/items.txt -s ${WORK}/items new ${WORK}/cut/${name}.dat)
# Linked into a static build: the entry point must not be exported from the module.
run(${GENCCODE} -q -o -e icudt${MAJOR} --skip-dll-export -m ${member} -d ${WORK}/cut
    ${WORK}/cut/${name}.dat)
# genccode's object says nothing of the stack, which the linker would take as a need for an
# executable one.
run(${OBJCOPY} --add-section .note.GNU-stack=/dev/null
    --set-section-flags .note.GNU-stack=contents,readonly ${WORK}/cut/${name}_dat.o ${OUTPUT})
