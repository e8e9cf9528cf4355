// Included first by every scheduler block table: rows the includer left undefined expand to
// nothing. No include guard.
//
// A row names the block (RBTANI, JOB, CM, BM, PM, TM, WAFER, UTIL), the item, its type and its
// byte offset in the block, then for each index the number of entries and the stride in bytes:
//
//   VEXLOR_SCH_ITEM0(block, item, type, offset)                        no index
//   VEXLOR_SCH_ITEM1(block, item, type, offset, ni, si)                (int i)
//   VEXLOR_SCH_ITEM2(block, item, type, offset, ni, si, nj, sj)        (int i, int j)
//   VEXLOR_SCH_ITEM3(..., nk, sk)  and  VEXLOR_SCH_ITEM4(..., nl, sl)
//   VEXLOR_SCH_STORE1/2(...)  as ITEM1/2, a store without functions of its own: the fallback
//                             fields of the robot animation items that live in points first.
//
// type: BOOL (one byte, 0 or 1), INT (int32), DOUBLE, TEXT (char[64], written cut to 63),
// ORDER (a WAFER_ORDER reference in a 4-byte slot).
#ifndef VEXLOR_SCH_ITEM0
#define VEXLOR_SCH_ITEM0(block, item, type, offset)
#endif
#ifndef VEXLOR_SCH_ITEM1
#define VEXLOR_SCH_ITEM1(block, item, type, offset, ni, si)
#endif
#ifndef VEXLOR_SCH_ITEM2
#define VEXLOR_SCH_ITEM2(block, item, type, offset, ni, si, nj, sj)
#endif
#ifndef VEXLOR_SCH_ITEM3
#define VEXLOR_SCH_ITEM3(block, item, type, offset, ni, si, nj, sj, nk, sk)
#endif
#ifndef VEXLOR_SCH_ITEM4
#define VEXLOR_SCH_ITEM4(block, item, type, offset, ni, si, nj, sj, nk, sk, nl, sl)
#endif
#ifndef VEXLOR_SCH_STORE1
#define VEXLOR_SCH_STORE1(block, item, type, offset, ni, si)
#endif
#ifndef VEXLOR_SCH_STORE2
#define VEXLOR_SCH_STORE2(block, item, type, offset, ni, si, nj, sj)
#endif
