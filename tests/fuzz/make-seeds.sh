#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets (corpus/<target>/seed-*) from
# the example data set and the program's own record layouts. Regression
# inputs (corpus/<target>/regression-*) are kept by hand: this script never
# touches them. Run from anywhere; rerun after the examples change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ex="$here/../../examples/small"
sim="$here/../../examples/simulated"
c="$here/corpus"
mkdir -p "$c"/{layout,free_form,control_file,family_data,pedigree_table}
rm -f "$c"/*/seed-*

# ---- layout: first line the layout string, then the file read through it.
params=$(sed -n '3,17p' "$ex/par.inp")
printf '(2i3,i2,4E12.5)\n%s\n' "$params" >"$c/layout/seed-parameter-records"
printf '(20i1)\n%s\n' "$(sed -n 2p "$ex/par.inp")" >"$c/layout/seed-flags"
printf '(20i1)\n11111111111111111111\n1 1 1 1 1 1 1 1 1 1\n10101\n' >"$c/layout/seed-flags-45"
printf '(2i3,i2,4E12.5)\n  1  1 1     1.234E+01       12340     1.234D1\n' >"$c/layout/seed-exponent-forms"
printf "(' initial LH=',e15.8)\n initial LH=-0.10377674E+02\n" >"$c/layout/seed-text-item"
printf '(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)\n  1    0.200000E+00   0.500000E-01\n  4    0.121752E+02  -0.137484E-04\n' >"$c/layout/seed-summary-parameters"
printf "(1X,' Number of iteration =',I4,\t/' Number of functions =',I6,/1X,' ln LH =',E20.8)\n  Number of iteration =  20\n Number of functions =   207\n  ln LH =     -0.43942023E+01\n" >"$c/layout/seed-summary-counts"
printf "(10X,' Parameter',7X,'Step')\n" >"$c/layout/seed-heading"
printf '(f15.4,9f8.5)\n       -10.3777 0.2000016.0000013.0000010.50000 2.00000\n' >"$c/layout/seed-evaluation-line"
printf '(A16,2A,3X,F8.3,/,a4,5x,i12)\n trait.dat       ab     12.500\r\nname     -2147483647\n' >"$c/layout/seed-characters"
printf '(3e15.6,2f8.5)\n 1e100 -0.0 1.7976931348623157E+308 1e-45 3.4028235E+38\n' >"$c/layout/seed-extreme-reals"

# ---- free form: byte 0 the item count, then one type byte per item
# (0 integer, 1 4-byte real, 2 8-byte real, 4k+3 text of k+1 characters),
# then the file.
printf '\x04\x00\x00\x3f\x00' >"$c/free_form/seed-first-record"
cat "$ex/par.inp" >>"$c/free_form/seed-first-record"
printf '\x08\x00\x00\x00\x00\x00\x00\x00\x00' >"$c/free_form/seed-iway"
cat "$ex/iway.dat" >>"$c/free_form/seed-iway"
printf '\x10\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01' >"$c/free_form/seed-trait"
cat "$ex/trait.dat" >>"$c/free_form/seed-trait"
printf '\x05\x02\x02\x02\x02\x02' >"$c/free_form/seed-age"
cat "$ex/age.dat" >>"$c/free_form/seed-age"
printf "\x06\x00\x01\x3f\x02\x0b\x00 3*1.5, ,/ skipped\n'it''s a name' \"dq\" 2* 7\n1,,2 , 3 -4.5D-3 +7 0.5e+1\n" >"$c/free_form/seed-separators"
printf '\x03\x3f\x3f\x00 "unterminated quote\nover records\n' >"$c/free_form/seed-open-quote"

# ---- control file: par.inp and variants.
cp "$ex/par.inp" "$c/control_file/seed-example"
sed 's/$/\r/' "$ex/par.inp" >"$c/control_file/seed-example-crlf"
{ printf "45,0,'my data file.dat',0\n11111111111111111111\n11110000111100001111\n10101\n"
  sed -n '3,17p' "$ex/par.inp"; } >"$c/control_file/seed-45-families"
{ printf "2 1 trait.dat 5\n11\n"; sed -n '3,17p' "$ex/par.inp"
  printf 'c1.dat\n"c 2.dat"\nc3\nc4\nc5\n'; } >"$c/control_file/seed-five-covariates"
{ printf "1 0 t 0\n1\n"; sed -n '3,17p' "$ex/par.inp" | sed '3s/^  3/  2/'; } >"$c/control_file/seed-tie"

# ---- family data: iway.dat, %%, trait file, %%, covariate files.
sep='%%'
{ cat "$ex/iway.dat"; echo "$sep"; cat "$ex/trait.dat"; echo "$sep"; cat "$ex/age.dat"; } \
  >"$c/family_data/seed-example"
{ cat "$ex/iway.dat"; echo "$sep"; cat "$ex/trait.dat"; } >"$c/family_data/seed-example-no-covariate"
printf '2 2 0 4 7\n2 0 1 2\n4 2 0 4 7\n7 1 2 3 4 1 2 3\n0 0\n7 1 2 1 2 1 2 1\n2 2 0 2 2 2 1\n%s\n12.5 13.1 14.0 -999 11.0 -999 10.4\n' "$sep" \
  >"$c/family_data/seed-two-families"
printf '1 1 0 3\n0 0 1\n3 0 0 3\n3 1 2 3\n0\n3 1 2 1\n1 2 2\n%s\n1e39 -1e39 -998\n%s\n1 2 3\n' "$sep" "$sep" \
  >"$c/family_data/seed-trio-extremes"

# ---- pedigree table (segmix-prep): the example's families as a table.
table='family id father mother sex status trait age
F1 1 0 0 1 2 10.2 4.8
F1 2 0 0 2 2 11.5 4.6
F1 3 1 2 1 0 14.8 2.1
F1 4 1 2 2 2 12.9 1.9
F1 5 1 2 1 2 10.7 1.5
F2 1 0 0 1 2 NA 7.2
F2 2 0 0 2 2 NA 7.0
F2 3 1 2 1 2 13.4 4.5
F2 4 1 2 2 2 11.2 4.1
F2 5 0 0 2 2 9.8 4.3
F2 6 3 5 2 1 14.1 1.8
F2 7 3 5 1 2 12.6 1.4
F2 8 0 0 2 2 10.9 3.9
F3 1 0 0 1 2 9.6 5.0
F3 2 0 0 2 2 . 4.9
F3 3 1 2 2 1 11.8 2.2
F3 4 0 0 1 2 10.4 3.0
F4 1 0 0 1 2 NA 6.1
F4 2 0 0 2 2 NA 5.8'
printf '%s\n' "$table" >"$c/pedigree_table/seed-example"
printf '%s\n' "$table" | sed 's/ /,/g; s/$/\r/' >"$c/pedigree_table/seed-example-csv-crlf"
printf '\xef\xbb\xbf# three generations\nFamily\tID\tFather\tMother\tSex\tStatus\tTrait\n"a b"\tg1\t0\t0\t1\t2\t3.5\n"a b"\tg2\t\t\t2\t2\t4\n"a b"\tp\tg1\tg2\t1\t1\t1e3\n"a b"\tq\t0\t0\t2\t2\t-2.5\n"a b"\tc\tp\tq\t2\t0\t7\n' \
  >"$c/pedigree_table/seed-tabs-quotes-three-generations"
# The first families of the simulated example (comment lines, header, cov1).
awk '$1 ~ /^#/ || $1 == "family" || ($1 >= 1 && $1 <= 4)' "$sim/table.txt" \
  >"$c/pedigree_table/seed-simulated-four-families"
cp "$sim/par.inp" "$c/control_file/seed-simulated"
