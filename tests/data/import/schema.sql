-- The tables the import test workbooks fill. One statement per line group,
-- each ended by ";" at the end of a line.
create table ZORVAT (
  AA     varchar2(10) primary key,
  BB     number,
  CC     date,
  SEQ_NN number,
  DD     number
);
create sequence SEQ_TBXH start with 1 increment by 1;
create table PEOPLE (
  NAME varchar2(20),
  NOTE varchar2(20),
  BORN date
);
create table EVENTS (
  D date,
  V varchar2(10)
);
