/*specstart>7*/
SDB=src_db
STbl=Src
DTbl=Dst
ClearDest=1
SKeyFields=K1;K2
DKeyFields=D1;D2;
SFields=A
DFields=B
SFilter=A > 0
/*specstop*/
/*specstart>8*/
DTbl=Dst
SFields=A;B
DFields=B;A
DFilter=K <> 1
/*specstop*/
