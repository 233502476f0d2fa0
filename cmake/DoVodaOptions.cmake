# Compiler settings shared by every target of the project.
#
# The edge detector's arithmetic is fixed to the rounding of each
# single-precision step: contraction of a*b+c into one fused operation
# is switched off and no fast-math or host-specific tuning is used, so
# results do not depend on the processor. The mathematics functions do not
# set errno (no caller reads it), so square roots compile to one instruction.
add_library(dovoda_options INTERFACE)
target_compile_options(dovoda_options INTERFACE
  -Wall -Wextra -ffp-contract=off -fno-fast-math -fno-math-errno
  $<$<BOOL:${DOVODA_WERROR}>:-Werror>)

if(DOVODA_SANITIZE)
  target_compile_options(dovoda_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(dovoda_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
