/*dllstart>9*/
DLLName=libsteps.so
DLLProc=InsertRow
/*dllstop*/
/*sqlstart>12*/
/*manystart>1*/
update t set a = 1;
/*manystop*/
