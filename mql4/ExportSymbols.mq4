//+------------------------------------------------------------------+
//| ExportSymbols.mq4: writes the symbols of the Market Watch with    |
//| their symbol properties as torvik-tester's instrument table       |
//| (MQL4\Files\torvik_symbols.csv), for its --symbols option.        |
//|                                                                   |
//| Copy to MQL4\Scripts, compile, show every symbol you want in the  |
//| Market Watch (right click, Show All), then drag the script onto   |
//| any chart.                                                        |
//+------------------------------------------------------------------+
#property strict
#property script_show_inputs

input string FileName = "torvik_symbols.csv";

#define EXPORT_HEADER "symbol,kind,digits,contract_size,base,profit,margin,margin_mode,max_leverage,spread,commission,commission_per,swap_long,swap_short,swap_unit,triple_day,stop_level,freeze_level,min_lot,max_lot,lot_step"

string DayName(int day)
  {
   string names[7]={"sun","mon","tue","wed","thu","fri","sat"};
   return((day>=0 && day<7) ? names[day] : "wed");
  }

//+------------------------------------------------------------------+
//| The symbol's own leverage when its margin is more than the        |
//| account's leverage asks; 0 when the account's applies.            |
//+------------------------------------------------------------------+
int OwnLeverage(string symbol)
  {
   double margin=MarketInfo(symbol,MODE_MARGINREQUIRED);
   double tickSize=MarketInfo(symbol,MODE_TICKSIZE);
   double tickValue=MarketInfo(symbol,MODE_TICKVALUE);
   double price=MarketInfo(symbol,MODE_ASK);
   if(margin<=0.0 || tickSize<=0.0 || tickValue<=0.0 || price<=0.0)
      return(0);
   // One lot's worth in account money: price ticks times the tick value.
   double leverage=price/tickSize*tickValue/margin;
   if(leverage>=AccountLeverage()-0.5)
      return(0);
   return((int)MathRound(leverage));
  }

//+------------------------------------------------------------------+
void OnStart()
  {
   int file=FileOpen(FileName,FILE_WRITE|FILE_TXT|FILE_ANSI);
   if(file==INVALID_HANDLE)
     {
      Print("torvik: cannot write ",FileName," (error ",GetLastError(),")");
      return;
     }
   FileWriteString(file,"# Written by ExportSymbols.mq4 on "+AccountCompany()+" at "+
                   TimeToString(TimeCurrent())+"; the terminal shows no commission: add it by hand.\n");
   FileWriteString(file,EXPORT_HEADER+"\n");
   int written=0;
   for(int i=0; i<SymbolsTotal(true); i++)
     {
      string symbol=SymbolName(i,true);
      int    calcMode=(int)MarketInfo(symbol,MODE_MARGINCALCMODE);
      double contract=MarketInfo(symbol,MODE_LOTSIZE);
      // Swaps in points, or in money when the terminal gives them in the
      // account currency (base or margin currency equal to it); other kinds
      // (interest) are left at 0.
      int    swapType=(int)MarketInfo(symbol,MODE_SWAPTYPE);
      string margin=SymbolInfoString(symbol,SYMBOL_CURRENCY_MARGIN);
      string base=SymbolInfoString(symbol,SYMBOL_CURRENCY_BASE);
      bool   money=(swapType==1 && base==AccountCurrency()) || (swapType==3 && margin==AccountCurrency());
      bool   points=(swapType==0);
      double swapLong=(points || money) ? MarketInfo(symbol,MODE_SWAPLONG) : 0.0;
      double swapShort=(points || money) ? MarketInfo(symbol,MODE_SWAPSHORT) : 0.0;
      int    triple=(int)SymbolInfoInteger(symbol,SYMBOL_SWAP_ROLLOVER3DAYS);
      if(triple<1 || triple>5)
         triple=3;
      string row=StringFormat("%s,%s,%d,%.0f,%s,%s,%s,%s,%d,%d,0,round-turn,%s,%s,%s,%s,%d,%d,%s,%s,%s",
                              symbol,(calcMode==0 && contract>=1000.0) ? "fx" : "cfd",
                              (int)MarketInfo(symbol,MODE_DIGITS),contract,
                              base,SymbolInfoString(symbol,SYMBOL_CURRENCY_PROFIT),margin,
                              calcMode==0 ? "forex" : "cfd",OwnLeverage(symbol),(int)MarketInfo(symbol,MODE_SPREAD),
                              DoubleToString(swapLong,2),DoubleToString(swapShort,2),money ? "money" : "points",
                              DayName(triple),(int)MarketInfo(symbol,MODE_STOPLEVEL),
                              (int)MarketInfo(symbol,MODE_FREEZELEVEL),DoubleToString(MarketInfo(symbol,MODE_MINLOT),5),
                              DoubleToString(MarketInfo(symbol,MODE_MAXLOT),5),
                              DoubleToString(MarketInfo(symbol,MODE_LOTSTEP),5));
      FileWriteString(file,row+"\n");
      written++;
     }
   FileClose(file);
   Print("torvik: ",written," symbols written to MQL4\\Files\\",FileName);
  }
//+------------------------------------------------------------------+
