--存储过程&&P01
--参数&&@dBegin&&开始日期&&smalldatetime&&1&&&&
  --参数&&@nYear&&年度&&INT&&1&&120&&  
--参数&&@dEnd&&截止时间&&X&&0&&昨天&&
--参数&&@cName&&名称&&varchar&&Y&&默认值&&
--参数&&@cMemo&&备注&&char&&&&abc
--参数&&@nRate&&比率&&float&&0&&&&
-- 参数&&@bad&&缺字段&&int
--参数&& @bFlag && 标志 && bit && 1 &&
select 1
