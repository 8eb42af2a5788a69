/*manystart>5*/
set term ^ ;
create procedure p as
begin
  exit;
end^
set term ; ^
update t set a = 'x;y'; -- done
/*manystop*/
